#!/usr/bin/env python3
"""Uploads a folder to an S3 server for objectstores_test: every file of FOLDER as
PREFIX/PATH in each BUCKET (made where missing), through boto3 with s3rver's own key.
Usage: s3upload.py ENDPOINT FOLDER PREFIX BUCKET..."""
import os
import sys

import boto3
import botocore.config

endpoint, folder, prefix, *buckets = sys.argv[1:]
s3 = boto3.client("s3", endpoint_url=endpoint, region_name="us-east-1",
                  aws_access_key_id="S3RVER", aws_secret_access_key="S3RVER",
                  config=botocore.config.Config(s3={"addressing_style": "path"}))
for bucket in buckets:
    s3.create_bucket(Bucket=bucket)
    for top, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(top, name)
            key = prefix + "/" + os.path.relpath(path, folder).replace(os.sep, "/")
            s3.upload_file(path, bucket, key)
