#include "Core/Platform/Sha256.hpp"

#include <openssl/evp.h>

#include <array>
#include <stdexcept>

#include "Core/Platform/Hex.hpp"

namespace tarvik {

std::string sha256Hex(std::string_view bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) !=
        1) {
        throw std::runtime_error("SHA-256 failed");
    }
    return hexDigits(std::string_view(reinterpret_cast<const char*>(digest.data()), length));
}

}  // namespace tarvik
