#include "launcher/command_line.h"

#include <gtest/gtest.h>

using korvel::launch_clients_count;

TEST(CommandLine, LaunchClientsOptionAndItsCount) {
    struct Case {
        std::vector<std::wstring> arguments;
        std::optional<int> expected;
    };
    std::vector<Case> const cases = {
        {{L"davari.exe"}, std::nullopt},
        {{L"davari.exe", L"--launch-clients", L"2"}, 2},
        {{L"davari.exe", L"--launch-clients", L"5"}, 3},
        {{L"davari.exe", L"--launch-clients", L"0"}, 1},
        {{L"davari.exe", L"--launch-clients", L"-2"}, 1},
        {{L"davari.exe", L"--launch-clients", L"x"}, 1},
        {{L"davari.exe", L"--launch-clients", L""}, 1},
        {{L"davari.exe", L"--launch-clients", L"  3"}, 3},
        {{L"davari.exe", L"--launch-clients", L"+2"}, 2},
        {{L"davari.exe", L"--launch-clients", L"2abc"}, 2},
        {{L"davari.exe", L"--launch-clients", L"99999999999"}, 1},  // beyond int: not a number
        {{L"davari.exe", L"--launch-clients", L"-99999999999"}, 1},
        {{L"davari.exe", L"--launch-clients"}, std::nullopt},  // as the last argument
        {{L"davari.exe", L"--Launch-Clients", L"2"}, std::nullopt},
        {{L"davari.exe", L"--launch-clients=2"}, std::nullopt},
        {{L"davari.exe", L"-x", L"--launch-clients", L"3", L"--launch-clients", L"1"}, 3},
        {{L"--launch-clients", L"2"}, std::nullopt},  // position 0 is the program
        {{L"davari.exe", L"2", L"--launch-clients"}, std::nullopt},
    };
    for (auto const& c : cases) {
        std::wstring joined;
        for (auto const& a : c.arguments) joined += L"[" + a + L"]";
        EXPECT_EQ(launch_clients_count(c.arguments), c.expected) << std::string(joined.begin(), joined.end());
    }
}
