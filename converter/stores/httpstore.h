#pragma once

// A store on an HTTP(S) server: the value of a key is the body of a GET of BASE/KEY. Only
// http and https, redirects included; TLS certificates verified (a private authority trusted
// through CURL_CA_BUNDLE, SSL_CERT_FILE or SSL_CERT_DIR); a user and password in the URL go out
// as basic authentication and never into a message. 404 is a missing key; any other answer than
// 200 is refused, 403 too: a server that hides missing keys behind 403 (S3 without list
// permission) can't be told from one that forbids them, and a forbidden chunk read as empty
// would be a wrong picture.

#include "keystore.h"

#include <memory>
#include <string>

// What keeps a slow, stalled or endless server from holding the converter: the one place
// these limits live.
struct HttpLimits {
    long connectMilliseconds = 15000; // to set up the connection (TLS included)
    // A transfer slower than lowSpeedBytes a second for lowSpeedSeconds is given up.
    long lowSpeedBytes = 1024;
    long lowSpeedSeconds = 20;
    long requestMilliseconds = 300000; // the whole of one request, redirects included
    long maxRedirects = 5;
    // All of one store's requests together (a store lives for one command): a server answering
    // just above the speed floor, request after request, ends too.
    long storeMilliseconds = 12L * 3600 * 1000;
    // The requests one store makes: a chunk each, so chunks far too small for their array end
    // too, long before a pack of them would.
    long maxRequests = 250000;
};

// Opens the store at url (http:// or https://, no query or fragment). Contacts nobody: the
// first get finds whether the server is there. Returns "" or the message.
[[nodiscard]] std::string openHttpStore(const std::string& url, std::unique_ptr<KeyStore>* store,
                                        const HttpLimits& limits = HttpLimits());
