#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/failure_lines.h"

namespace {

using namespace std::chrono_literals;

TEST(FailureLines, RepeatsAtMostOnceASecondAndAccountsForEveryPass) {
    struct Event {
        int ms;            // since the start
        const char* text;  // the failure's status text; null: a good pass
    };
    const struct {
        const char* name;
        std::vector<Event> events;  // the run ends with a flush
        std::vector<std::string> lines;
    } cases[] = {
        {"two alike", {{0, "A"}, {50, "A"}}, {"A", "A"}},
        {"a second apart",
         {{0, "A"}, {500, "A"}, {1100, "A"}, {1200, "A"}},
         {"A", "A (2 times)", "A"}},
        {"another text", {{0, "A"}, {50, "A"}, {100, "A"}, {150, "B"}}, {"A", "A (2 times)", "B"}},
        {"a good pass between", {{0, "A"}, {50, nullptr}, {100, "A"}}, {"A", "A"}},
    };
    const auto start = FailureLines::Clock::now();
    for (const auto& c : cases) {
        FailureLines failures;
        std::vector<std::string> lines;
        for (const Event& e : c.events) {
            const auto more = e.text
                                  ? failures.Failed(e.text, start + std::chrono::milliseconds(e.ms))
                                  : failures.Flush();
            lines.insert(lines.end(), more.begin(), more.end());
        }
        const auto rest = failures.Flush();
        lines.insert(lines.end(), rest.begin(), rest.end());
        EXPECT_EQ(lines, c.lines) << c.name;
    }
}

}  // namespace
