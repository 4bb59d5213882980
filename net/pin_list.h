// The platform's pin list, fetched once at start-up.
#ifndef CORVEL_NET_PIN_LIST_H_
#define CORVEL_NET_PIN_LIST_H_

// Installs the X-Secret header on the shared client (it stays for every later request), fetches
// the pin list and replaces the pin store with the built-in entries followed by the served ones
// (the built-in entry wins ties for its scope). False on any failure, with the store unchanged.
// Never throws; blocks the caller for the request.
bool LoadDynamicPins();

#endif  // CORVEL_NET_PIN_LIST_H_
