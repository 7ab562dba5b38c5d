#include "objectstore.h"

#include "messages.h"

#include <QString>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

namespace {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    const std::size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// An s3:// or gs:// URL taken apart: "s3" or "gs", the bucket, and the path in it.
struct BucketUrl {
    std::string scheme, bucket, path;
    std::string name() const { return scheme + "://" + bucket + (path.empty() ? "" : "/" + path); }
    // The path as a URL's, after "/" where there is one.
    std::string urlPath() const { return path.empty() ? "" : "/" + percentEncoded(path); }
};

// Bucket names of both providers: lower-case letters, digits, "-", "." (and "_" on GCS).
bool isBucketName(const std::string& bucket, const std::string& scheme) {
    if (bucket.size() < 3 || bucket.size() > 222)
        return false;
    return std::all_of(bucket.begin(), bucket.end(), [&](char c) {
        return std::islower(static_cast<unsigned char>(c)) ||
               std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.' ||
               (c == '_' && scheme == "gs");
    });
}

std::string parseBucketUrl(const std::string& location, BucketUrl* url) {
    const std::size_t colon = location.find("://");
    url->scheme = lowered(location.substr(0, colon));
    std::string rest = location.substr(colon + 3);
    while (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    const std::size_t slash = std::min(rest.find('/'), rest.size());
    url->bucket = rest.substr(0, slash);
    url->path = slash < rest.size() ? rest.substr(slash + 1) : "";
    if (rest.find_first_of("?#") != std::string::npos)
        return "a bucket's URL has no query (?) or fragment (#): " + url->scheme + "://BUCKET/PATH";
    if (!isBucketName(url->bucket, url->scheme))
        return "'" + url->bucket +
               "' is no bucket name (lower-case letters, digits, - and .): " + url->scheme +
               "://BUCKET/PATH";
    return "";
}

// An endpoint from the environment, without its trailing "/"; where it names no scheme, http
// (an emulator's "localhost:PORT").
std::string endpointOf(std::string value) {
    while (!value.empty() && value.back() == '/')
        value.pop_back();
    return value.find("://") == std::string::npos ? "http://" + value : value;
}

std::string gcsAddress(const BucketUrl& url, ObjectStoreAddress* address) {
    const std::string emulator = environmentValue("STORAGE_EMULATOR_HOST");
    const std::string endpoint =
        emulator.empty() ? "https://storage.googleapis.com" : endpointOf(emulator);
    address->url = endpoint + "/" + url.bucket + url.urlPath();
    address->access.forbidden = "the bucket '" + url.bucket +
                                "' is not public (HTTP 403): pack reads public Google Cloud "
                                "Storage buckets only; copy the store into a folder first";
    return "";
}

// AWS credentials: the key pair and the session token of temporary ones.
struct AwsKeys {
    std::string key, secret, token;
};

// The name = value lines of one section of an INI file such as ~/.aws/credentials, names in
// lower case; false when the file has no such section.
bool iniSection(std::ifstream& file, const std::string& wanted,
                std::map<std::string, std::string>* values) {
    std::string line, section;
    bool found = false;
    while (std::getline(file, line)) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = trimmed(line.substr(1, line.size() - 2));
            found = found || section == wanted;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (section == wanted && equals != std::string::npos)
            (*values)[lowered(trimmed(line.substr(0, equals)))] = trimmed(line.substr(equals + 1));
    }
    return found;
}

// The profile AWS_PROFILE names, or "default".
std::string awsProfile() {
    const std::string given = environmentValue("AWS_PROFILE");
    return given.empty() ? "default" : given;
}

// One of the AWS CLI's shared files: the one the environment names (which must be there), else
// ~/.aws/NAME (which may be missing: ""). The path, or the refusal.
std::string sharedFile(const char* variable, const char* name, std::string* path) {
    const std::string named = environmentValue(variable);
    const std::string home = environmentValue("HOME");
    *path = !named.empty() ? named : home.empty() ? "" : home + "/.aws/" + name;
    if (named.empty() || std::ifstream(*path))
        return "";
    return std::string("the AWS ") + (std::strcmp(name, "config") == 0 ? "config" : "credentials") +
           " file " + named + " can't be read";
}

// The profile's keys from the shared credentials file. A file or profile named by the
// environment must be there; the default one may be missing (then: anonymous).
std::string profileKeys(AwsKeys* keys) {
    std::string path;
    if (const std::string failure = sharedFile("AWS_SHARED_CREDENTIALS_FILE", "credentials", &path);
        !failure.empty())
        return failure;
    const bool given = !environmentValue("AWS_PROFILE").empty();
    const std::string profile = awsProfile();
    std::ifstream file(path);
    if (!file)
        return given ? "the AWS credentials file " + (path.empty() ? "~/.aws/credentials" : path) +
                           " can't be read"
                     : "";
    std::map<std::string, std::string> values;
    if (!iniSection(file, profile, &values))
        return given ? "no profile [" + profile + "] in " + path : "";
    keys->key = values["aws_access_key_id"];
    keys->secret = values["aws_secret_access_key"];
    keys->token = values["aws_session_token"];
    if (keys->key.empty() || keys->secret.empty())
        return "the profile [" + profile + "] in " + path +
               " lacks aws_access_key_id or aws_secret_access_key";
    return "";
}

// The region the profile's section of the shared config file gives ("[default]", "[profile
// NAME]"), or "".
std::string configRegion(std::string* region) {
    std::string path;
    if (const std::string failure = sharedFile("AWS_CONFIG_FILE", "config", &path);
        !failure.empty())
        return failure;
    std::ifstream file(path);
    const std::string profile = awsProfile();
    std::map<std::string, std::string> values;
    if (file && iniSection(file, profile == "default" ? profile : "profile " + profile, &values))
        *region = values["region"];
    return "";
}

std::string awsKeys(AwsKeys* keys) {
    keys->key = environmentValue("AWS_ACCESS_KEY_ID");
    keys->secret = environmentValue("AWS_SECRET_ACCESS_KEY");
    keys->token = environmentValue("AWS_SESSION_TOKEN");
    if (keys->key.empty() != keys->secret.empty())
        return keys->key.empty() ? "AWS_SECRET_ACCESS_KEY is set without AWS_ACCESS_KEY_ID"
                                 : "AWS_ACCESS_KEY_ID is set without AWS_SECRET_ACCESS_KEY";
    if (!keys->key.empty())
        return "";
    keys->token.clear();
    return profileKeys(keys);
}

std::string awsRegion(std::string* region) {
    *region = environmentValue("AWS_REGION");
    if (region->empty())
        *region = environmentValue("AWS_DEFAULT_REGION");
    if (region->empty())
        if (const std::string failure = configRegion(region); !failure.empty())
            return failure;
    if (region->empty())
        *region = "us-east-1";
    const bool plain = std::all_of(region->begin(), region->end(), [](char c) {
        return std::islower(static_cast<unsigned char>(c)) ||
               std::isdigit(static_cast<unsigned char>(c)) || c == '-';
    });
    return plain ? "" : "'" + *region + "' is no AWS region (AWS_REGION: us-east-1, eu-west-2...)";
}

// The bucket's URL: path-style at a given endpoint; on AWS virtual-hosted, but path-style for a
// name with a "." (which AWS's certificate for *.s3.REGION.amazonaws.com does not cover).
std::string s3BucketUrl(const std::string& bucket, const std::string& region) {
    const std::string endpoint = environmentValue("AWS_ENDPOINT_URL");
    if (!endpoint.empty())
        return endpointOf(endpoint) + "/" + bucket;
    if (bucket.find('.') != std::string::npos)
        return "https://s3." + region + ".amazonaws.com/" + bucket;
    return "https://" + bucket + ".s3." + region + ".amazonaws.com";
}

std::string s3Address(const BucketUrl& url, ObjectStoreAddress* address) {
    HttpAccess& access = address->access;
    if (const std::string failure = awsRegion(&access.region); !failure.empty())
        return failure;
    AwsKeys keys;
    if (const std::string failure = awsKeys(&keys); !failure.empty())
        return failure;
    address->url = s3BucketUrl(url.bucket, access.region) + url.urlPath();
    access.regionBase = [url](const std::string& region) {
        return s3BucketUrl(url.bucket, region) + url.urlPath();
    };
    const std::string bucket = "the bucket '" + url.bucket + "'";
    access.moved = bucket + " is in another region than " + access.region +
                   " (HTTP 301): set AWS_REGION to its region";
    // S3 answers a missing key with 403 to those who may not list the bucket, and a sparse
    // array has missing chunks: the refusal says so.
    const std::string unlisted = " (to those who may not list a bucket, S3 answers 403 for a "
                                 "missing key too)";
    if (keys.key.empty()) {
        access.region.clear(); // anonymous: nothing signed
        access.forbidden = bucket +
                           " is not public (HTTP 403): set AWS_ACCESS_KEY_ID and "
                           "AWS_SECRET_ACCESS_KEY, or AWS_PROFILE, to credentials "
                           "that may read and list it" +
                           unlisted;
        return "";
    }
    access.accessKey = keys.key;
    access.secretKey = keys.secret;
    access.sessionToken = keys.token;
    access.forbidden = bucket +
                       " refused the credentials given (HTTP 403): check "
                       "AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY (or the profile's "
                       "keys) and that they may read and list it" +
                       unlisted;
    return "";
}

} // namespace

bool isObjectStoreUrl(const std::string& location) {
    const std::string scheme = lowered(location.substr(0, 5));
    return scheme == "s3://" || scheme == "gs://";
}

std::string objectStoreAddress(const std::string& location, ObjectStoreAddress* address) {
    BucketUrl url;
    if (const std::string failure = parseBucketUrl(location, &url); !failure.empty())
        return failure;
    *address = ObjectStoreAddress();
    address->access.name = url.name();
    return url.scheme == "gs" ? gcsAddress(url, address) : s3Address(url, address);
}

std::string openObjectStore(const std::string& location, std::unique_ptr<KeyStore>* store,
                            const HttpLimits& limits) {
    ObjectStoreAddress address;
    if (const std::string failure = objectStoreAddress(location, &address); !failure.empty())
        return otherFileMessage(QString::fromStdString(location), failure);
    return openHttpStore(address.url, address.access, store, limits);
}
