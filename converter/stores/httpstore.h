#pragma once

// A store on an HTTP(S) server: the value of a key is the body of a GET of BASE/KEY, or of
// BASE/KEY?QUERY where the URL has a query (a presigned URL's signature goes with every key and
// never into a message). Only http and https, redirects included; TLS certificates verified (a
// private authority trusted through CURL_CA_BUNDLE, SSL_CERT_FILE or SSL_CERT_DIR); a user and
// password in the URL go out as basic authentication and never into a message. 404 is a missing
// key; any other answer than 200 is refused, 403 too: a server that hides missing keys behind 403
// (S3 without list permission) can't be told from one that forbids them, and a forbidden chunk read
// as empty would be a wrong picture.

#include "keystore.h"

#include <functional>
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

// What an object store (S3, Google Cloud Storage) adds to a plain HTTP store: the name its
// messages give it, AWS signing, and what its refusals tell the user to do.
struct HttpAccess {
    std::string name; // the store as messages name it; "" for the URL without password or query
    // A region set: every request is signed with AWS Signature Version 4 for S3 there.
    std::string region, accessKey, secretKey, sessionToken;
    std::string forbidden; // what a 403 says; "" for the plain reason
    std::string moved;     // what a 301 without a Location says (S3's other region)
    // S3: the bucket's URL in another region. A 301 naming the bucket's region
    // (x-amz-bucket-region), as S3 answers in any other, moves the store there once, as the
    // AWS tools do; null where a store has no regions.
    std::function<std::string(const std::string& region)> regionBase;
};

// Opens the store at url (http:// or https://, a query but no fragment). Contacts nobody: the
// first get finds whether the server is there. Returns "" or the message.
[[nodiscard]] std::string openHttpStore(const std::string& url, std::unique_ptr<KeyStore>* store,
                                        const HttpLimits& limits = HttpLimits());
[[nodiscard]] std::string openHttpStore(const std::string& url, const HttpAccess& access,
                                        std::unique_ptr<KeyStore>* store,
                                        const HttpLimits& limits = HttpLimits());

// key with every byte but letters, digits, "-._~" and "/" percent-encoded, as a URL's path.
[[nodiscard]] std::string percentEncoded(const std::string& key);
