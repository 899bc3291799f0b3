#include "Core/Convert/FLACComments.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/TagFieldsError.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik::FLACComments {
namespace {

// A block length is a 24-bit number.
constexpr std::size_t blockSizeLimit = std::size_t{1} << 24;
// Far more than any tagger writes; a walk past them is lost in other data.
constexpr std::size_t blockCountLimit = 4096;
// Comment blocks are read whole; a few full-size ones at most.
constexpr std::uint64_t loadedLimit = std::uint64_t{32} << 20;

[[noreturn]] void damaged() {
    throw UnnamedTagError("FLAC のメタデータが壊れています");
}

bool isReplaced(const Bytes& comment) {
    static constexpr std::array<std::string_view, 8> keys = {
        "TITLE", "ARTIST", "ALBUM", "ALBUMARTIST", "TRACKNUMBER", "DISCNUMBER", "DATE", "GENRE"};
    return std::find(keys.begin(), keys.end(), keyOf(comment)) != keys.end();
}

// Reads a damaged comment block as far as it goes instead of failing: a
// number past the end reads as 0, and the position moves on regardless.
class Reader {
public:
    explicit Reader(const Bytes& body) : body_(body) {}

    std::uint64_t number() {
        std::uint64_t value = 0;
        if (fits(4)) {
            for (int i = 3; i >= 0; --i) value = (value << 8) | body_[position_ + i];
        }
        position_ += 4;
        return value;
    }

    std::optional<Bytes> take(std::uint64_t length) {
        if (!fits(length)) return std::nullopt;
        Bytes out(body_.begin() + static_cast<std::ptrdiff_t>(position_),
                  body_.begin() + static_cast<std::ptrdiff_t>(position_ + length));
        position_ += length;
        return out;
    }

private:
    bool fits(std::uint64_t length) const {
        return position_ <= body_.size() && length <= body_.size() - position_;
    }

    const Bytes& body_;
    std::uint64_t position_ = 0;
};

void appendNumber(Bytes& out, std::size_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

Bytes commentBytes(const Bytes& vendor, const std::vector<Bytes>& comments) {
    Bytes body;
    appendNumber(body, vendor.size());
    body.insert(body.end(), vendor.begin(), vendor.end());
    appendNumber(body, comments.size());
    for (const Bytes& comment : comments) {
        appendNumber(body, comment.size());
        body.insert(body.end(), comment.begin(), comment.end());
    }
    return body;
}

// The vendor and the comments that are not replaced.
Comments keptComments(const Bytes& body) {
    Comments kept = readComments(body);
    std::erase_if(kept.comments, isReplaced);
    return kept;
}

constexpr std::string_view marker = "fLaC";

bool startsWith(const Bytes& bytes, std::string_view text) {
    return bytes.size() >= text.size() && std::equal(text.begin(), text.end(), bytes.begin());
}

// A FLAC file behind an ID3v2 tag, as some taggers leave it: the mark
// follows the tag (and its footer).
bool behindID3(ByteSource& file) {
    const std::optional<std::uint64_t> end = id3::tagLength(file.read(0, 10));
    return end && startsWith(file.read(*end, marker.size()), marker);
}

}  // namespace

std::string keyOf(const Bytes& comment) {
    const auto equals = std::find(comment.begin(), comment.end(), '=');
    std::string key(comment.begin(), equals);
    // The format's keys are ASCII from 0x20 to 0x7D, compared in ASCII
    // case only. Unicode rules would make "t\u0131tle" (dotless i) TITLE
    // and replace another tagger's comment; a byte outside the range keeps
    // the key as it is, and it matches none of ours.
    if (std::any_of(key.begin(), key.end(), [](char c) { return c < 0x20 || c > 0x7D; })) {
        return key;
    }
    for (char& c : key) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return key;
}

Comments readComments(const Bytes& body) {
    Comments read;
    Reader reader(body);
    if (auto vendor = reader.take(reader.number())) read.vendor = std::move(*vendor);
    for (std::uint64_t count = reader.number(); count > 0; --count) {
        std::optional<Bytes> comment = reader.take(reader.number());
        if (!comment) break;
        read.comments.push_back(std::move(*comment));
    }
    return read;
}

Bytes commentBody(const Comments& comments) {
    return commentBytes(comments.vendor, comments.comments);
}

Layout parse(ByteSource& file, std::string_view fileName) {
    if (file.size() < 9 || !startsWith(file.read(0, marker.size()), marker)) {
        // Rewriting the comments behind it would leave the tag in front,
        // which some players read first, saying the old values.
        if (behindID3(file)) {
            throw ConversionError("先頭に ID3 タグが付いた FLAC は扱えません: " +
                                  std::string(fileName));
        }
        throw ConversionError("FLAC ではありません: " + std::string(fileName));
    }

    std::vector<Block> blocks;
    std::uint64_t at = 4;
    std::uint64_t loaded = 0;
    for (bool last = false; !last;) {
        const Bytes header = file.read(at, 4);
        if (header.size() < 4) damaged();
        const std::uint32_t length =
            (std::uint32_t{header[1]} << 16) | (std::uint32_t{header[2]} << 8) | header[3];
        if (length > file.size() - at - 4) damaged();
        last = (header[0] & 0x80) != 0;
        const auto type = static_cast<std::uint8_t>(header[0] & 0x7F);
        // Stream information comes once, first. A run of zeros after the
        // marker reads as empty stream-information blocks and would
        // otherwise be walked to the end of the file.
        if ((type == 0 && !blocks.empty()) || blocks.size() >= blockCountLimit) damaged();
        if (type == vorbisCommentType) {
            loaded += length;
            if (loaded > loadedLimit) {
                throw ConversionError("FLAC のメタデータが大きすぎます: " + std::string(fileName));
            }
            blocks.push_back({type, file.read(at + 4, length), std::nullopt});
        } else {
            blocks.push_back({type, {}, Block::Stored{at + 4, length}});
        }
        at += 4 + length;
    }

    // The audio frames begin with a frame sync. A block length that is too
    // short ends the walk inside the metadata, and writing on from there
    // would keep old tag text as "audio" while reporting success.
    const Bytes sync = file.read(at, 2);
    if (!sync.empty() && !(sync.size() == 2 && sync[0] == 0xFF && (sync[1] & 0xFE) == 0xF8)) {
        damaged();
    }
    return {std::move(blocks), at};
}

void join(const std::vector<Block>& blocks, ByteSource& file, std::uint64_t audioStart,
          std::string_view fileName, ByteSink& out) {
    out.append(Bytes(marker.begin(), marker.end()));
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const Block& block = blocks[i];
        const std::size_t length = block.stored ? block.stored->length : block.body.size();
        // A wrapped length would make every block after this one unreadable.
        // Only a comment block rebuilt larger gets here: the file is sound.
        if (length >= blockSizeLimit) {
            throw ConversionError(
                "タグが FLAC のコメント ブロックの上限（16 MiB）を超えるため、書き換えません: " +
                std::string(fileName));
        }
        const bool lastBlock = i + 1 == blocks.size();
        out.append(Bytes{static_cast<std::uint8_t>(block.type | (lastBlock ? 0x80 : 0)),
                         static_cast<std::uint8_t>(length >> 16),
                         static_cast<std::uint8_t>(length >> 8),
                         static_cast<std::uint8_t>(length)});
        if (block.stored) {
            out.copy(file, block.stored->offset, length);
        } else {
            out.append(block.body);
        }
    }
    out.copy(file, audioStart, file.size() - audioStart);
}

void rewrite(ByteSource& file, const TrackMeta& meta, std::string_view fileName, ByteSink& out) {
    Layout layout = parse(file, fileName);
    std::vector<Block>& blocks = layout.blocks;

    // Readers merge every comment block, so the replaced keys go from all of
    // them; the first one carries the new values.
    Comments first;
    bool hadComments = false;
    for (auto block = blocks.begin(); block != blocks.end();) {
        if (block->type != vorbisCommentType) {
            ++block;
            continue;
        }
        Comments kept = keptComments(block->body);
        if (hadComments) {
            block->body = commentBody(kept);
            ++block;
        } else {
            first = std::move(kept);
            hadComments = true;
            block = blocks.erase(block);
        }
    }
    Bytes& vendor = first.vendor;
    std::vector<Bytes>& comments = first.comments;

    const std::pair<std::string_view, const std::string&> fields[] = {
        {"TITLE", meta.title},       {"ARTIST", meta.artist},
        {"ALBUM", meta.album},       {"ALBUMARTIST", meta.albumArtist},
        {"TRACKNUMBER", meta.track}, {"DISCNUMBER", meta.disc},
        {"DATE", meta.date},         {"GENRE", meta.genre},
    };
    for (const auto& [key, value] : fields) {
        if (value.empty()) continue;
        Bytes comment(key.begin(), key.end());
        comment.push_back('=');
        comment.insert(comment.end(), value.begin(), value.end());
        comments.push_back(std::move(comment));
    }
    Bytes body = commentBytes(vendor, comments);
    blocks.insert(blocks.begin() + (blocks.empty() ? 0 : 1),
                  {vorbisCommentType, std::move(body), std::nullopt});
    join(blocks, file, layout.audioStart, fileName, out);
}

Bytes rewrite(const Bytes& file, const TrackMeta& meta, std::string_view fileName) {
    MemorySource source(file);
    MemorySink out;
    rewrite(source, meta, fileName, out);
    return std::move(out.bytes());
}

}  // namespace tarvik::FLACComments
