#pragma once

// Stores in cloud buckets, read over their providers' HTTPS endpoints as HTTP stores:
//   gs://BUCKET/PATH  public Google Cloud Storage, https://storage.googleapis.com/BUCKET/PATH, or
//                     STORAGE_EMULATOR_HOST in its place (as Google's own tools take it);
//   s3://BUCKET/PATH  Amazon S3 in AWS_REGION (else AWS_DEFAULT_REGION, else us-east-1), or
//                     AWS_ENDPOINT_URL/BUCKET/PATH (MinIO, Ceph, a local server). Signed with AWS
//                     Signature Version 4 where credentials are found, as the AWS tools find
//                     them: AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY (with AWS_SESSION_TOKEN),
//                     else the AWS_PROFILE (else "default") section of AWS_SHARED_CREDENTIALS_FILE
//                     (else ~/.aws/credentials); anonymous otherwise, for a public bucket.
// Messages name the store by its s3:// or gs:// URL and never show a secret.

#include "httpstore.h"

#include <memory>
#include <string>

// Whether location starts with s3:// or gs:// (in any case).
bool isObjectStoreUrl(const std::string& location);

// Where a bucket's store is read from: the HTTP(S) URL and how it is signed and named.
struct ObjectStoreAddress {
    std::string url;
    HttpAccess access;
};

// Finds the address of the store at location (s3:// or gs://) from the environment and the
// shared credentials file. Returns "" or the reason, which shows no secret.
[[nodiscard]] std::string objectStoreAddress(const std::string& location,
                                             ObjectStoreAddress* address);

// Opens the store at location (s3:// or gs://). Contacts nobody. Returns "" or the message.
[[nodiscard]] std::string openObjectStore(const std::string& location,
                                          std::unique_ptr<KeyStore>* store,
                                          const HttpLimits& limits = HttpLimits());
