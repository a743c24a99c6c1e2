#include "fake_converter.h"

#include <fstream>
#include <sstream>

namespace kavlo::test {

namespace fs = std::filesystem;

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

FakeConverter::FakeConverter(const fs::path& dir, const std::string& copySnippet,
                             const std::string& encodeSnippet)
    : program_(dir / "ffmpeg"), log_(dir / "ffmpeg-runs.log") {
    std::ofstream(log_, std::ios::trunc);
    std::ofstream script(program_);
    script << "#!/bin/sh\n"
           << "log=" << shellQuoted(log_) << "\n"
           << "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$log\"\n"
           << "echo '--' >> \"$log\"\n"
           << "in=''; out=''; prev=''\n"
           << "for a in \"$@\"; do [ \"$prev\" = -i ] && in=\"$a\"; prev=\"$a\"; out=\"$a\"; "
              "done\n"
           << "case \" $* \" in\n"
           << "  *' libx264 '*)\n"
           << encodeSnippet << "\n;;\n"
           << "  *)\n"
           << copySnippet << "\n;;\n"
           << "esac\n";
    script.close();
    fs::permissions(program_, fs::perms::owner_all, fs::perm_options::add);
}

std::vector<std::vector<std::string>> FakeConverter::runs() const {
    std::vector<std::vector<std::string>> all;
    std::ifstream log(log_);
    std::vector<std::string> current;
    for (std::string line; std::getline(log, line);) {
        if (line == "--") {
            all.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(line);
        }
    }
    return all;
}

} // namespace kavlo::test
