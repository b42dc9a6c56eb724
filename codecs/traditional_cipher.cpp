// traditional_cipher.cpp - key update, keystream, header generator and their exports.
#include "traditional_cipher.h"

#include <chrono>

#include "crc32.h"
#include "qvarc32.h"

namespace qv::cipher {
namespace {

inline void Advance(uint32_t& key0, uint32_t& key1, uint32_t& key2, uint8_t plain) {
    key0 = crc32::UpdateByte(key0, plain);
    key1 = (key1 + (key0 & 0xFF)) * 134775813u + 1;  // 0x08088405, modulo 2^32
    key2 = crc32::UpdateByte(key2, static_cast<uint8_t>(key1 >> 24));
}

// The keystream byte taken from key 2 before each data byte.
inline uint8_t StreamByte(uint32_t key2) {
    const uint32_t t = (key2 & 0xFFFF) | 2;
    return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

}  // namespace

void UpdateKeys(CipherKeys& keys, uint8_t plain) {
    Advance(keys.key0, keys.key1, keys.key2, plain);
}

void InitKeys(CipherKeys& keys, const uint8_t* password, size_t length) {
    keys = kInitialKeys;
    for (size_t i = 0; i < length; ++i) UpdateKeys(keys, password[i]);
}

void EncryptData(CipherKeys& keys, uint8_t* data, size_t size) {
    uint32_t k0 = keys.key0, k1 = keys.key1, k2 = keys.key2;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t plain = data[i];
        data[i] = plain ^ StreamByte(k2);
        Advance(k0, k1, k2, plain);
    }
    keys = {k0, k1, k2};
}

void DecryptData(CipherKeys& keys, uint8_t* data, size_t size) {
    uint32_t k0 = keys.key0, k1 = keys.key1, k2 = keys.key2;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t plain = data[i] ^ StreamByte(k2);
        data[i] = plain;
        Advance(k0, k1, k2, plain);
    }
    keys = {k0, k1, k2};
}

void BuildHeader(uint8_t* header, uint32_t check, uint16_t milliseconds) {
    uint32_t s = static_cast<uint16_t>(milliseconds ^ 0xFFFF);
    for (size_t i = 0; i < 10; ++i) {
        s = (s * 1255 + 6173) % 29282;
        header[i] = static_cast<uint8_t>(s);
    }
    header[10] = static_cast<uint8_t>(check >> 16);
    header[11] = static_cast<uint8_t>(check >> 24);
}

CipherKeys& ProcessKeys() {
    static CipherKeys keys;  // zero until the first QvInitKeys, as the interface describes
    return keys;
}

}  // namespace qv::cipher

QV_API void QV_CALL QvInitKeys(const void* password, uint32_t length) {
    const size_t count = password != nullptr ? (length & 0xFFFF) : 0;
    qv::cipher::InitKeys(qv::cipher::ProcessKeys(), static_cast<const uint8_t*>(password), count);
}

QV_API void QV_CALL QvEncryptData(void* buffer, uint32_t length) {
    if (buffer == nullptr) return;
    qv::cipher::EncryptData(qv::cipher::ProcessKeys(), static_cast<uint8_t*>(buffer), length);
}

QV_API void QV_CALL QvDecryptData(void* buffer, uint32_t length) {
    if (buffer == nullptr) return;
    qv::cipher::DecryptData(qv::cipher::ProcessKeys(), static_cast<uint8_t*>(buffer), length);
}

QV_API void QV_CALL QvInitHeader(void* header, uint32_t check) {
    if (header == nullptr) return;
    // Milliseconds within the current UTC second: the system clock counts from a whole second.
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count() % 1000;
    const auto milliseconds = static_cast<uint16_t>(ms < 0 ? ms + 1000 : ms);
    qv::cipher::BuildHeader(static_cast<uint8_t*>(header), check, milliseconds);
}
