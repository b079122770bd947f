#pragma once
// One row of the news card, as the feed delivers it and the window draws it.

#include <string>

namespace korvel {

struct NewsItem {
    std::wstring tag;
    std::wstring title;
    std::wstring date;
    std::wstring url;  // opened with the shell when the row is clicked; empty: not clickable
};

}  // namespace korvel
