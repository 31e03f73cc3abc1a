#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

const char* kBashCompletion = "/usr/share/bash-completion/bash_completion";

// The long options a command's --help lists.
std::set<std::string> HelpOptions(const std::vector<std::string>& command) {
    std::vector<std::string> args = command;
    args.push_back("--help");
    auto r = test::RunCli(args);
    std::set<std::string> options;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        // "  -h,--help   Print ...": the names are the first word; the text after may quote other programs' options.
        std::istringstream words(line);
        std::string names;
        words >> names;
        if (names.rfind("-", 0) != 0) continue;
        std::istringstream each(names);
        for (std::string name; std::getline(each, name, ',');)
            if (name.rfind("--", 0) == 0) options.insert(name);
    }
    return options;
}

// What the completion offers after "tarnwell WORDS... --".
std::set<std::string> Completions(const fs::path& script, const std::vector<std::string>& words) {
    std::string line = "tarnwell";
    for (const auto& w : words) line += " " + w;
    line += " --";
    std::string shell = "source " + std::string(kBashCompletion) + "; source '" + script.string() +
                        "'; COMP_LINE='" + line + "'; COMP_POINT=${#COMP_LINE}; read -ra COMP_WORDS <<<\"$COMP_LINE\"; "
                        "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _tarnwell; printf '%s\\n' \"${COMPREPLY[@]}\"";
    std::string command = "bash -c '" + std::regex_replace(shell, std::regex("'"), "'\\''") + "'";
    std::set<std::string> offered;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return offered;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        std::string word = buffer;
        while (!word.empty() && (word.back() == '\n' || word.back() == ' ')) word.pop_back();
        offered.insert(word);
    }
    ::pclose(pipe);
    return offered;
}

// Every option a command takes is offered for it, so the completion cannot
// fall behind the command line.
TEST(BashCompletion, OffersEveryOptionOfEveryCommand) {
    if (!fs::exists(kBashCompletion)) GTEST_SKIP() << "bash-completion is not installed";
    fs::path script = fs::path(TARNWELL_TEST_IMAGES) / "../../packaging/tarnwell.bash-completion";
    ASSERT_TRUE(fs::exists(script));
    const std::vector<std::vector<std::string>> commands = {
        {"drives"}, {"volumes"}, {"list"}, {"recover"}, {"search"}, {"candidates"}, {"carve"}, {"signatures", "add"}};
    for (const auto& command : commands) {
        std::set<std::string> wanted = HelpOptions(command);
        ASSERT_FALSE(wanted.empty()) << command[0];
        std::set<std::string> offered = Completions(script, command);
        for (const auto& option : wanted) EXPECT_TRUE(offered.count(option)) << command.back() << " " << option;
    }
}

}  // namespace
}  // namespace tarnwell
