// The encrypting side of the launch-link envelope, for the support tools, the tests and the
// fuzzers (the player only decrypts). Produces what the platform's web server sends:
// base64 of {"iv": base64(16 bytes), "value": base64(AES-CBC, PKCS#7), "mac": hex(HMAC-SHA256
// over the "iv" text followed by the "value" text)}.
//
// Failures (a key AES does not accept, an IV that is not 16 bytes, the platform's cipher or
// random source failing) are thrown as std::runtime_error. Stateless and reentrant.
#ifndef CORVEL_LINK_ENVELOPE_WRITER_H_
#define CORVEL_LINK_ENVELOPE_WRITER_H_

#include <cstddef>
#include <string>
#include <vector>

// A fresh random IV for every call. Without the tag the envelope is accepted unchecked.
std::string EncryptEnvelope(const std::string& plaintext, const std::string& key, bool withMac = true);

// The same with a given IV, for reproducible envelopes in tests.
std::string EncryptEnvelopeWithIv(const std::string& plaintext,
                                  const std::string& key,
                                  const std::vector<unsigned char>& iv,
                                  bool withMac = true);

// Platform backends.
// AES-CBC with PKCS#7 padding; the key selects AES-128, -192 or -256 by its length.
std::vector<unsigned char> AesCbcEncrypt(const std::vector<unsigned char>& plaintext,
                                         const std::vector<unsigned char>& key,
                                         const std::vector<unsigned char>& iv);
// Bytes from the system's cryptographic random source.
std::vector<unsigned char> RandomBytes(std::size_t count);

#endif  // CORVEL_LINK_ENVELOPE_WRITER_H_
