#include "Core/Platform/Sha256.hpp"

#include <openssl/evp.h>

#include <array>
#include <memory>
#include <stdexcept>

#include "Core/Platform/Hex.hpp"

namespace tarvik {
namespace {

[[noreturn]] void failed() {
    throw std::runtime_error("SHA-256 failed");
}

std::string hexOf(const std::array<unsigned char, EVP_MAX_MD_SIZE>& digest, unsigned int length) {
    return hexDigits(std::string_view(reinterpret_cast<const char*>(digest.data()), length));
}

}  // namespace

std::string sha256Hex(std::string_view bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) !=
        1) {
        failed();
    }
    return hexOf(digest, length);
}

std::string sha256Hex(ByteSource& source) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) failed();
    for (std::uint64_t offset = 0; offset < source.size();) {
        const Bytes chunk = source.read(offset, copyChunkSize);
        if (chunk.empty()) break;
        if (EVP_DigestUpdate(context.get(), chunk.data(), chunk.size()) != 1) failed();
        offset += chunk.size();
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) failed();
    return hexOf(digest, length);
}

bool isSha256Hex(std::string_view text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace tarvik
