// An ID3v2 tag of a card file, read as TagLib reads it without fault. The
// tag's own unsynchronisation of a whole version 2.2 or 2.3 tag is undone
// here, and an extended header left out, which TagLib 1.13 measures wrongly
// in version 2.3 (and loses the last frames behind in version 2.4). Its
// frames are walked here first and handed to TagLib one after another with
// sizes it can't misread: a malformed frame among good ones (a player's
// rating frame whose size runs past the tag, a frame of no size) would
// otherwise end TagLib's walk and lose every frame behind it, so it is
// passed over to the next frame that fits.
#include <id3v2tag.h>
#include <mpegfile.h>
#include <tbytevectorstream.h>
#include <textidentificationframe.h>

#include <algorithm>
#include <optional>

#include "Core/Convert/CardTagsRead.hpp"
#include "Core/Convert/CardTagsTagLib.hpp"

namespace tarvik::cardtags {
namespace {

std::uint64_t syncsafe(const Bytes& bytes, std::size_t at) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = (value << 7) | (bytes[at + i] & 0x7F);
    return value;
}

Bytes withoutUnsynchronisation(const Bytes& body) {
    Bytes plain;
    plain.reserve(body.size());
    for (std::size_t at = 0; at < body.size(); ++at) {
        plain.push_back(body[at]);
        if (body[at] == 0xFF && at + 1 < body.size() && body[at + 1] == 0) ++at;
    }
    return plain;
}

// The frames of one version's plain body.
class Frames {
public:
    Frames(const Bytes& body, int major)
        : body_(body), major_(major), header_(major == 2 ? 6 : 10), id_(major == 2 ? 3 : 4) {
        const auto last =
            std::find_if(body.rbegin(), body.rend(), [](std::uint8_t b) { return b; });
        zerosFrom_ = static_cast<std::size_t>(body.rend() - last);
    }

    // The body of the frames that can be read, each with a plain size, and
    // whether anything was passed over. The walk ends at the padding, zeros
    // to the end of the tag; a zero before other bytes is a frame's lost way.
    std::pair<Bytes, bool> walk() const {
        Bytes kept;
        bool damaged = false;
        std::size_t at = 0;
        while (at < zerosFrom_) {
            std::optional<std::uint64_t> size = sizeAt(at);
            if (!size) {
                damaged = true;
                const std::optional<std::size_t> next = nextFrame(at + 1);
                if (!next) break;
                at = *next;
                size = sizeAt(at);
            }
            // A frame of no size ends TagLib's walk, and holds nothing.
            if (*size > 0) keep(kept, at, *size);
            at += header_ + static_cast<std::size_t>(*size);
        }
        return {std::move(kept), damaged || at < zerosFrom_};
    }

private:
    bool isID(std::size_t at) const {
        return body_.size() - std::min(at, body_.size()) >= id_ &&
               std::all_of(
                   body_.begin() + static_cast<std::ptrdiff_t>(at),
                   body_.begin() + static_cast<std::ptrdiff_t>(at + id_),
                   [](std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
    }

    // The body size of the frame whose header is at `at`; nothing where no
    // frame that fits starts there. A version 2.4 size that is not
    // syncsafe, or lands on no frame where a plain number would, is read as
    // a plain number, as iTunes and other writers put it.
    std::optional<std::uint64_t> sizeAt(std::size_t at) const {
        if (body_.size() - at < header_ || !isID(at)) return std::nullopt;
        const std::size_t sizeAt = at + id_;
        std::uint64_t size =
            numberAt(body_, sizeAt, header_ - id_ - (major_ == 2 ? 0 : 2), ByteOrder::big);
        if (major_ == 4) {
            const bool plain = std::any_of(body_.begin() + static_cast<std::ptrdiff_t>(sizeAt),
                                           body_.begin() + static_cast<std::ptrdiff_t>(sizeAt + 4),
                                           [](std::uint8_t b) { return b >= 0x80; });
            if (!plain) {
                const std::uint64_t safe = syncsafe(body_, sizeAt);
                if (safe <= 127 || isID(at + header_ + safe) || !isID(at + header_ + size)) {
                    size = safe;
                }
            }
        }
        if (size > body_.size() - at - header_) return std::nullopt;
        return size;
    }

    // The first frame header from `from` whose frame ends where the tag
    // goes on well: at its padding (zeros to its end) or another frame that
    // fits.
    std::optional<std::size_t> nextFrame(std::size_t from) const {
        for (std::size_t at = from; body_.size() - std::min(at, body_.size()) >= header_; ++at) {
            const std::optional<std::uint64_t> size = sizeAt(at);
            if (!size) continue;
            const std::size_t end = at + header_ + static_cast<std::size_t>(*size);
            if (end >= zerosFrom_ || sizeAt(end)) return at;
        }
        return std::nullopt;
    }

    void keep(Bytes& kept, std::size_t at, std::uint64_t size) const {
        const auto frame = body_.begin() + static_cast<std::ptrdiff_t>(at);
        kept.insert(kept.end(), frame, frame + static_cast<std::ptrdiff_t>(id_));
        const int width = major_ == 2 ? 3 : 4;
        for (int byte = width - 1; byte >= 0; --byte) {
            const int shift = byte * (major_ == 4 ? 7 : 8);
            kept.push_back(
                static_cast<std::uint8_t>((size >> shift) & (major_ == 4 ? 0x7F : 0xFF)));
        }
        const std::size_t rest = header_ - id_ - static_cast<std::size_t>(width);  // the flags
        kept.insert(kept.end(), frame + static_cast<std::ptrdiff_t>(id_ + width),
                    frame + static_cast<std::ptrdiff_t>(id_ + width + rest + size));
    }

    const Bytes& body_;
    int major_;
    std::size_t header_;
    std::size_t id_;
    std::size_t zerosFrom_;  // where the zeros at the body's end start
};

// The body of a tag of `major` without unsynchronisation and extended
// header, and the flags left; nothing where no reader knows the tag.
std::optional<std::pair<Bytes, std::uint8_t>> plainBody(int major, std::uint8_t flags, Bytes body) {
    if (major == 2 && (flags & 0x40) != 0) return std::nullopt;  // 2.2's compression
    if (major <= 3 && (flags & 0x80) != 0) {
        body = withoutUnsynchronisation(body);
        flags &= 0x7F;
    }
    if (major >= 3 && (flags & 0x40) != 0) {
        if (body.size() < 4) return std::nullopt;
        // 2.3 counts the size after its own four bytes, 2.4 the whole header.
        const std::uint64_t length =
            major == 3 ? 4 + numberAt(body, 0, 4, ByteOrder::big) : syncsafe(body, 0);
        if (length < 4 || length > body.size()) return std::nullopt;
        body.erase(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(length));
        flags &= static_cast<std::uint8_t>(~0x40);
    }
    flags &= static_cast<std::uint8_t>(~0x10);  // the footer is not copied
    return std::pair(std::move(body), flags);
}

// The first frame of `id`'s values, for a text frame.
std::string frameText(const TagLib::ID3v2::Tag& tag, const char* id) {
    const TagLib::ID3v2::FrameList& frames = tag.frameListMap()[id];
    if (frames.isEmpty()) return {};
    if (const auto* text =
            dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(frames.front())) {
        return joined(text->fieldList());
    }
    return utf8(frames.front()->toString());
}

}  // namespace

Found id3v2(const Bytes& tag) {
    const Found unreadable{{}, true};
    if (tag.size() < 10) return unreadable;
    const int major = tag[3];
    if (major < 2 || major > 4 ||
        std::any_of(tag.begin() + 6, tag.begin() + 10, [](std::uint8_t b) { return b >= 0x80; })) {
        return unreadable;
    }
    const auto plain = plainBody(major, tag[5], Bytes(tag.begin() + 10, tag.end()));
    if (!plain) return unreadable;
    const auto [frames, damaged] = Frames(plain->first, major).walk();
    if (frames.empty()) return {{}, damaged};  // TagLib takes a tag of no frames for none
    Bytes bytes = {'I', 'D', '3', static_cast<std::uint8_t>(major), 0, plain->second};
    const auto size = static_cast<std::uint32_t>(frames.size());
    for (int shift : {21, 14, 7, 0})
        bytes.push_back(static_cast<std::uint8_t>((size >> shift) & 0x7F));
    bytes.insert(bytes.end(), frames.begin(), frames.end());

    TagLib::ByteVector vector = vectorOf(bytes);
    TagLib::ByteVectorStream stream(vector);
    TagLib::MPEG::File mpeg(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    const TagLib::ID3v2::Tag* read = mpeg.hasID3v2Tag() ? mpeg.ID3v2Tag(false) : nullptr;
    if (read == nullptr || read->frameList().isEmpty()) return unreadable;
    return {fieldsOf({"TIT2", "TPE1", "TPE2", "TALB", "TRCK", "TPOS"},
                     [&](const char* id) { return frameText(*read, id); }),
            damaged};
}

}  // namespace tarvik::cardtags
