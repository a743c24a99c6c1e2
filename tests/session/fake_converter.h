// A stand-in for ffmpeg: a shell script that records each run's arguments
// and then runs a snippet chosen by the test, one for the container copy
// (arguments without "libx264") and one for the re-encode. The snippets see
// the input as $in and the output as $out.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kavlo::test {

class FakeConverter {
  public:
    FakeConverter(const std::filesystem::path& dir, const std::string& copySnippet,
                  const std::string& encodeSnippet);

    const std::filesystem::path& program() const { return program_; }
    // The arguments of every run so far, oldest first.
    std::vector<std::vector<std::string>> runs() const;

  private:
    std::filesystem::path program_;
    std::filesystem::path log_;
};

// A shell word holding `text` exactly ('...' with inner quotes escaped).
std::string shellQuoted(const std::string& text);

} // namespace kavlo::test
