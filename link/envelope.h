// The encrypted envelope of a launch-link field: base64 of a JSON object with "iv" and "value"
// (base64 of an AES-256-CBC ciphertext with PKCS#7 padding) and "mac" (hex of HMAC-SHA256 over
// the "iv" text followed by the "value" text). An envelope without the tag, or with an empty
// one, fails like one with a wrong tag.
//
// Every failure is thrown as std::runtime_error (or the JSON library's type error) whose
// message is one of the fixed texts below; no handle survives a call. Stateless, reentrant.
#ifndef CORVEL_LINK_ENVELOPE_H_
#define CORVEL_LINK_ENVELOPE_H_

#include <string>
#include <vector>

// Returns the plaintext bytes. "Failed to parse AES envelope JSON",
// "MAC verification failed — data may be tampered", the JSON library's type errors, and the
// messages of AesCbcDecrypt and HmacSha256.
std::string DecryptEnvelope(const std::string& envelope, const std::string& key);

// AES-CBC with the padding removed. Messages: "BCryptOpenAlgorithmProvider failed",
// "BCryptSetProperty CBC failed", "BCryptGenerateSymmetricKey failed",
// "BCryptDecrypt (size query) failed", "BCryptDecrypt failed".
std::vector<unsigned char> AesCbcDecrypt(const std::vector<unsigned char>& ciphertext,
                                         const std::vector<unsigned char>& key,
                                         const std::vector<unsigned char>& iv);

// The 32 digest bytes. Messages: "BCryptOpenAlgorithmProvider HMAC failed",
// "BCryptCreateHash failed", "BCryptHashData failed", "BCryptFinishHash failed".
std::vector<unsigned char> HmacSha256(const std::string& secret, const std::string& message);

#endif  // CORVEL_LINK_ENVELOPE_H_
