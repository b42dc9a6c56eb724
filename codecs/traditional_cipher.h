// traditional_cipher.h - the traditional PKWARE encryption of ZIP members: three 32-bit keys
// advanced by every plaintext byte, a keystream byte drawn from the third key before each data
// byte, and the 12-byte encryption header that precedes an encrypted member's data.
//
// The exports (QvInitKeys, QvEncryptData, QvDecryptData, QvInitHeader in qvarc32.h) work on one
// key state for the whole process, as hosts expect; the library's own callers may keep a
// CipherKeys of their own and use the functions below on it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::cipher {

struct CipherKeys {
    uint32_t key0 = 0;
    uint32_t key1 = 0;
    uint32_t key2 = 0;
};

// The keys every stream starts from before the password is fed.
inline constexpr CipherKeys kInitialKeys{0x12345678u, 0x23456789u, 0x34567890u};

// The encryption header's size in bytes, ahead of the member's data.
inline constexpr size_t kHeaderSize = 12;

// Advances the keys by one plaintext byte.
void UpdateKeys(CipherKeys& keys, uint8_t plain);

// Starts a stream: the initial keys, then every password byte through UpdateKeys.
void InitKeys(CipherKeys& keys, const uint8_t* password, size_t length);

// Encrypt or decrypt in place, continuing the stream the keys are in.
void EncryptData(CipherKeys& keys, uint8_t* data, size_t size);
void DecryptData(CipherKeys& keys, uint8_t* data, size_t size);

// The plain header for a clock reading of `milliseconds` (0-999): ten generator bytes, then
// bits 16-23 and 24-31 of `check`.
void BuildHeader(uint8_t* header, uint32_t check, uint16_t milliseconds);

// The key state the exports share: one for the whole process (zero until the first QvInitKeys).
CipherKeys& ProcessKeys();

}  // namespace qv::cipher
