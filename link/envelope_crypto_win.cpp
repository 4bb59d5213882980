// AES-CBC and HMAC-SHA256 on Windows CNG. Every handle is owned, and the owners are declared so
// that a key or hash object always goes before the provider it came from.
#include <windows.h>  // before every other Windows header

#include <bcrypt.h>

#include <climits>
#include <stdexcept>

#include "base/crypto_handles_win.h"
#include "link/envelope.h"

namespace {

constexpr std::size_t kAesBlockLength = 16;

// CNG takes sizes as ULONG; anything larger cannot be handed over in one call.
bool FitsUlong(std::size_t size) {
  return size <= ULONG_MAX;
}

PUCHAR Bytes(const void* data) {
  return static_cast<PUCHAR>(const_cast<void*>(data));
}

}  // namespace

std::vector<unsigned char> AesCbcDecrypt(const std::vector<unsigned char>& ciphertext,
                                         const std::vector<unsigned char>& key,
                                         const std::vector<unsigned char>& iv) {
  base::UniqueBcryptAlg algorithm;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_AES_ALGORITHM, nullptr, 0))) {
    throw std::runtime_error("BCryptOpenAlgorithmProvider failed");
  }
  // The size passed includes the terminating NUL: 16 UTF-16 units, 32 bytes.
  if (!BCRYPT_SUCCESS(BCryptSetProperty(algorithm.get(), BCRYPT_CHAINING_MODE, Bytes(BCRYPT_CHAIN_MODE_CBC),
                                        sizeof(BCRYPT_CHAIN_MODE_CBC), 0))) {
    throw std::runtime_error("BCryptSetProperty CBC failed");
  }
  // The key, IV and length rules are checked here as well as by CNG: some CNG implementations
  // (Wine's among them) accept a 33-byte key, an IV of the wrong length or an empty ciphertext,
  // and the envelope must fail the same way wherever it runs.
  base::UniqueBcryptKey keyHandle;
  const bool aesKeyLength = key.size() == 16 || key.size() == 24 || key.size() == 32;
  if (!aesKeyLength ||
      !BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(algorithm.get(), keyHandle.put(), nullptr, 0,
                                                 Bytes(key.data()), static_cast<ULONG>(key.size()), 0))) {
    throw std::runtime_error("BCryptGenerateSymmetricKey failed");
  }

  // CNG overwrites the IV buffer with the chaining state, so it works on a copy, reloaded
  // before the real call.
  std::vector<unsigned char> workingIv = iv;
  ULONG outputSize = 0;
  // An empty IV would reach CNG as "no IV", which it quietly replaces with zeros.
  if (iv.size() != kAesBlockLength || !FitsUlong(ciphertext.size()) ||
      !BCRYPT_SUCCESS(BCryptDecrypt(keyHandle.get(), Bytes(ciphertext.data()),
                                    static_cast<ULONG>(ciphertext.size()), nullptr, Bytes(workingIv.data()),
                                    static_cast<ULONG>(workingIv.size()), nullptr, 0, &outputSize,
                                    BCRYPT_BLOCK_PADDING))) {
    throw std::runtime_error("BCryptDecrypt (size query) failed");
  }
  // No block at all holds no padding: as corrupt as a wrong padding byte.
  if (ciphertext.empty())
    throw std::runtime_error("BCryptDecrypt failed");

  std::vector<unsigned char> plaintext(outputSize, 0);
  workingIv = iv;
  ULONG plaintextSize = 0;
  const NTSTATUS status =
      BCryptDecrypt(keyHandle.get(), Bytes(ciphertext.data()), static_cast<ULONG>(ciphertext.size()), nullptr,
                    Bytes(workingIv.data()), static_cast<ULONG>(workingIv.size()), plaintext.data(),
                    outputSize, &plaintextSize, BCRYPT_BLOCK_PADDING);
  keyHandle.reset();
  algorithm.reset();
  if (!BCRYPT_SUCCESS(status) || plaintextSize > plaintext.size()) {
    throw std::runtime_error("BCryptDecrypt failed");
  }
  plaintext.resize(plaintextSize);
  return plaintext;
}

std::vector<unsigned char> HmacSha256(const std::string& secret, const std::string& message) {
  base::UniqueBcryptAlg algorithm;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr,
                                                  BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
    throw std::runtime_error("BCryptOpenAlgorithmProvider HMAC failed");
  }
  DWORD digestLength = 0;
  ULONG written = 0;
  if (!BCRYPT_SUCCESS(BCryptGetProperty(algorithm.get(), BCRYPT_HASH_LENGTH, Bytes(&digestLength),
                                        sizeof(digestLength), &written, 0)) ||
      digestLength == 0) {
    // Without a digest length there is nothing to finish the hash into.
    throw std::runtime_error("BCryptFinishHash failed");
  }

  base::UniqueBcryptHash hash;
  if (!FitsUlong(secret.size()) ||
      !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, Bytes(secret.data()),
                                       static_cast<ULONG>(secret.size()), 0))) {
    throw std::runtime_error("BCryptCreateHash failed");
  }
  if (!FitsUlong(message.size()) || !BCRYPT_SUCCESS(BCryptHashData(hash.get(), Bytes(message.data()),
                                                                   static_cast<ULONG>(message.size()), 0))) {
    throw std::runtime_error("BCryptHashData failed");
  }
  std::vector<unsigned char> digest(digestLength, 0);
  const NTSTATUS status = BCryptFinishHash(hash.get(), digest.data(), digestLength, 0);
  hash.reset();
  algorithm.reset();
  if (!BCRYPT_SUCCESS(status))
    throw std::runtime_error("BCryptFinishHash failed");
  return digest;
}
