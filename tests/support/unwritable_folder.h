#pragma once
// A folder in which nothing can be created, removed or renamed, as a game folder under
// Program Files is for a player without administrator rights. Under Wine, running as
// root, the Linux immutable attribute (chattr +i) is the one refusal root cannot pass.

#include <filesystem>

namespace korvel::test {

class UnwritableFolder {
public:
    // Makes `folder` (a folder on drive Z:) unwritable; ok() says whether that worked.
    explicit UnwritableFolder(std::filesystem::path folder);
    // The folder is writable again, whatever the test did.
    ~UnwritableFolder();
    UnwritableFolder(UnwritableFolder const&) = delete;
    UnwritableFolder& operator=(UnwritableFolder const&) = delete;

    bool ok() const { return ok_; }

private:
    std::filesystem::path folder_;
    bool ok_ = false;
};

}  // namespace korvel::test
