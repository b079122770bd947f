#include "publisher/file_digest.h"

namespace korvel {

FileDigester::FileDigester(ChunkerParams const* index_params) {
    if (!index_params) return;
    chunker_.emplace(*index_params);
    index_.emplace(*index_params);
    add_ = [this](Chunk const& chunk, std::uint8_t const*) { index_->add(chunk); };
}

void FileDigester::update(void const* data, std::size_t size) {
    hash_.update(data, size);
    size_ += size;
    if (chunker_) chunker_->feed(data, size, add_);
}

FileDigest FileDigester::finish() {
    FileDigest digest;
    digest.size = size_;
    digest.sha256 = to_hex(hash_.finalize());
    if (chunker_) {
        chunker_->finish(add_);
        digest.chunk_index = index_->finish();
    }
    return digest;
}

}  // namespace korvel
