#include "core/patch_progress.h"
#include "window/progress_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(ProgressText, FormatEtaKnownAnswers) {
    struct Case {
        double eta;
        wchar_t const* text;
    };
    Case const cases[] = {
        {-1, L"--"},          {864000, L"240 ó 0 p"}, {864001, L"--"},     {59.4, L"59 mp"},
        {59.5, L"1 p 0 mp"},  {3599.6, L"1 ó 0 p"},   {0, L"0 mp"},        {125, L"2 p 5 mp"},
        {3725, L"1 ó 2 p"},   {std::numeric_limits<double>::quiet_NaN(), L"--"},
    };
    for (Case const& c : cases) EXPECT_EQ(korvel::format_eta(c.eta), c.text) << c.eta;
}

TEST(ProgressText, CounterLineByStage) {
    using enum korvel::PatchStage;
    struct Case {
        korvel::PatchStage stage;
        wchar_t const* file;
        std::uint64_t done, total, files_done, files_total;
        double speed, eta;
        wchar_t const* line;
    };
    Case const cases[] = {
        {Downloading, L"data/pack.bin", 1572864, 12582912, 3, 9, 870707.2, 13,
         L"data/pack.bin  •  1.5 MB / 12.0 MB  •  850.3 KB/s  •  13 mp"},
        {Downloading, L"", 512, 2048, 0, 0, 0, -1, L"512 B / 2.0 KB  •  -  •  --"},
        {Downloading, L"a.txt", 0, 0, 12, 340, 0, 59.5, L"a.txt  •  0 B / 0 B  •  -  •  1 p 0 mp"},  // files_total set
        {Verifying, L"a.txt", 1, 2, 12, 340, 5, 5, L"12 / 340 fájl"},
        {Done, L"", 0, 0, 0, 0, 0, -1, L""},
    };
    for (Case const& c : cases) {
        korvel::PatchProgress progress;
        progress.stage = c.stage;
        progress.current_file = c.file;
        progress.bytes_done = c.done;
        progress.bytes_total = c.total;
        progress.files_done = c.files_done;
        progress.files_total = c.files_total;
        progress.speed = c.speed;
        progress.eta = c.eta;
        EXPECT_EQ(korvel::counter_line(progress), c.line);
    }
}

}  // namespace
