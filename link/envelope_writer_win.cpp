// AES-CBC encryption and random bytes on Windows CNG.
#include <windows.h>  // before every other Windows header

#include <bcrypt.h>

#include <climits>
#include <stdexcept>

#include "base/crypto_handles_win.h"
#include "link/envelope_writer.h"

namespace {

PUCHAR Bytes(const void* data) {
  return static_cast<PUCHAR>(const_cast<void*>(data));
}

}  // namespace

std::vector<unsigned char> AesCbcEncrypt(const std::vector<unsigned char>& plaintext,
                                         const std::vector<unsigned char>& key,
                                         const std::vector<unsigned char>& iv) {
  if (plaintext.size() > ULONG_MAX - 16 || key.size() > ULONG_MAX || iv.size() != 16) {
    throw std::runtime_error("AES encryption: bad input size");
  }
  base::UniqueBcryptAlg algorithm;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_AES_ALGORITHM, nullptr, 0)) ||
      !BCRYPT_SUCCESS(BCryptSetProperty(algorithm.get(), BCRYPT_CHAINING_MODE, Bytes(BCRYPT_CHAIN_MODE_CBC),
                                        sizeof(BCRYPT_CHAIN_MODE_CBC), 0))) {
    throw std::runtime_error("AES encryption: provider unavailable");
  }
  base::UniqueBcryptKey keyHandle;
  if (!BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(algorithm.get(), keyHandle.put(), nullptr, 0,
                                                 Bytes(key.data()), static_cast<ULONG>(key.size()), 0))) {
    throw std::runtime_error("AES encryption: key not accepted");
  }
  // Padding always adds 1 to 16 bytes.
  std::vector<unsigned char> ciphertext((plaintext.size() / 16 + 1) * 16, 0);
  std::vector<unsigned char> workingIv = iv;
  ULONG written = 0;
  if (!BCRYPT_SUCCESS(BCryptEncrypt(keyHandle.get(), Bytes(plaintext.data()),
                                    static_cast<ULONG>(plaintext.size()), nullptr, workingIv.data(),
                                    static_cast<ULONG>(workingIv.size()), ciphertext.data(),
                                    static_cast<ULONG>(ciphertext.size()), &written, BCRYPT_BLOCK_PADDING)) ||
      written > ciphertext.size()) {
    throw std::runtime_error("AES encryption failed");
  }
  ciphertext.resize(written);
  return ciphertext;
}

std::vector<unsigned char> RandomBytes(std::size_t count) {
  std::vector<unsigned char> bytes(count, 0);
  if (count > ULONG_MAX || !BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(count),
                                                           BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    throw std::runtime_error("random bytes unavailable");
  }
  return bytes;
}
