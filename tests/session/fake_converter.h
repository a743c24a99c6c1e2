// A stand-in for ffmpeg: a shell script that logs each run's arguments and
// runs a snippet chosen by the test, one for the container copy (arguments
// without "libx264") and one for the re-encode. The snippets see the input
// as $in and the output as $out.
#pragma once

#include "support/test_media.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kavlo::test {

class FakeConverter {
  public:
    FakeConverter(const std::filesystem::path& dir, const std::string& copySnippet,
                  const std::string& encodeSnippet)
        : program_(dir / "ffmpeg"), log_(dir / "ffmpeg-runs.log") {
        std::ofstream(log_, std::ios::trunc);
        std::ofstream(program_) << "#!/bin/sh\nlog=" << shellQuoted(log_) << "\n"
                                << "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$log\"\n"
                                << "echo '--' >> \"$log\"\n"
                                << "in=''; out=''; prev=''\n"
                                << "for a in \"$@\"; do [ \"$prev\" = -i ] && in=\"$a\"; "
                                   "prev=\"$a\"; out=\"$a\"; done\n"
                                << "case \" $* \" in\n  *' libx264 '*)\n"
                                << encodeSnippet << "\n;;\n  *)\n"
                                << copySnippet << "\n;;\nesac\n";
        std::filesystem::permissions(program_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add);
    }

    const std::filesystem::path& program() const { return program_; }
    // The arguments of every run so far, oldest first.
    std::vector<std::vector<std::string>> runs() const {
        std::vector<std::vector<std::string>> all(1);
        std::ifstream log(log_);
        for (std::string line; std::getline(log, line);) {
            if (line == "--")
                all.emplace_back();
            else
                all.back().push_back(line);
        }
        all.pop_back(); // what follows the last run's end
        return all;
    }

  private:
    std::filesystem::path program_, log_;
};

} // namespace kavlo::test
