#include "objectstore.h"
#include "testruns.h"

#include <QProcess>
#include <QStandardPaths>

#include <cstdlib>

namespace {

const char readerSecret[] = "se@cret/k+", tempSecret[] = "t3mp/secret";

// The variables the object stores read: each case sets its own and no other, and HOME is a
// scratch folder, so the user's own ~/.aws never counts.
const char* const storeVariables[] = {"AWS_ACCESS_KEY_ID",
                                      "AWS_SECRET_ACCESS_KEY",
                                      "AWS_SESSION_TOKEN",
                                      "AWS_PROFILE",
                                      "AWS_SHARED_CREDENTIALS_FILE",
                                      "AWS_REGION",
                                      "AWS_DEFAULT_REGION",
                                      "AWS_ENDPOINT_URL",
                                      "AWS_CONFIG_FILE",
                                      "STORAGE_EMULATOR_HOST"};

using Variables = std::vector<std::pair<const char*, std::string>>;

struct Environment {
    const QByteArray home = qgetenv("HOME");
    explicit Environment(const Variables& values) {
        for (const char* name : storeVariables)
            unsetenv(name);
        setenv("HOME", QDir::currentPath().toLocal8Bit().constData(), 1);
        for (const auto& [name, value] : values)
            setenv(name, value.c_str(), 1);
    }
    ~Environment() {
        for (const char* name : storeVariables)
            unsetenv(name);
        qputenv("HOME", home);
    }
};

void writeFile(const QString& path, const std::string& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.data(), qint64(text.size()));
}

const char credentials[] = "# keys\n"
                           "[default]\n"
                           "aws_access_key_id = DEFAULTKEY\n"
                           "aws_secret_access_key = default/secret\n"
                           "[reader]\n"
                           " AWS_Access_Key_Id=TESSARYREADER \n"
                           "aws_secret_access_key=se@cret/k+\n"
                           "[temp]\n"
                           "aws_access_key_id = TESSARYTEMP\n"
                           "aws_secret_access_key = t3mp/secret\n"
                           "aws_session_token = tok3n\n"
                           "[half]\n"
                           "aws_access_key_id = HALF\n";

// Where each bucket URL is read from, and how it is signed, as the environment says; what the
// environment gets wrong is refused before anything is asked, showing no secret.
TEST(ObjectStores, AddressesFollowTheEnvironment) {
    ScratchDir scratch;
    writeFile("keys.ini", credentials);
    writeFile(".aws/credentials", "[default]\naws_access_key_id=HOME\naws_secret_access_key=x\n");
    writeFile("config.ini",
              "[default]\nregion = ca-central-1\n[profile reader]\nRegion=eu-north-1\n"
              "[reader]\nregion=wrong-1\n");
    const std::string aws = "https://bucket.s3.us-east-1.amazonaws.com";
    const std::pair<const char*, std::string> none = {"HOME", "/nonexistent"},
                                              file = {"AWS_SHARED_CREDENTIALS_FILE", "keys.ini"};
    const Variables keys = {{"AWS_ACCESS_KEY_ID", "ENV"}, {"AWS_SECRET_ACCESS_KEY", readerSecret}};
    // The location, the environment, the URL read, and the key and token that sign ("": none).
    // clang-format off
    const std::tuple<std::string, Variables, std::string, std::string, std::string> opened[] = {
        {"gs://bucket/a/b.zarr", {}, "https://storage.googleapis.com/bucket/a/b.zarr", "", ""},
        {"GS://my_bucket/x/", {{"STORAGE_EMULATOR_HOST", "127.0.0.1:9023"}},
         "http://127.0.0.1:9023/my_bucket/x", "", ""},
        {"gs://bucket/x", {{"STORAGE_EMULATOR_HOST", "https://gcs.test/"}}, "https://gcs.test/bucket/x", "", ""},
        {"s3://bucket/x y.zarr", {}, aws + "/x%20y.zarr", "HOME", ""}, // ~/.aws/credentials
        {"s3://bucket/x", {none}, aws + "/x", "", ""},
        {"s3://my.bucket/x", {none, {"AWS_REGION", "eu-west-2"}},
         "https://s3.eu-west-2.amazonaws.com/my.bucket/x", "", ""},
        {"s3://bucket", {none, {"AWS_DEFAULT_REGION", "ap-south-1"}},
         "https://bucket.s3.ap-south-1.amazonaws.com", "", ""},
        {"s3://bucket/x", {none, {"AWS_REGION", "eu-west-2"}, {"AWS_DEFAULT_REGION", "ap-south-1"}},
         "https://bucket.s3.eu-west-2.amazonaws.com/x", "", ""},
        // The shared config file's region, for the profile, after the environment's.
        {"s3://bucket/x", {none, {"AWS_CONFIG_FILE", "config.ini"}},
         "https://bucket.s3.ca-central-1.amazonaws.com/x", "", ""},
        {"s3://bucket/x", {file, {"AWS_PROFILE", "reader"}, {"AWS_CONFIG_FILE", "config.ini"}},
         "https://bucket.s3.eu-north-1.amazonaws.com/x", "TESSARYREADER", ""},
        {"s3://bucket/x", {none, {"AWS_CONFIG_FILE", "config.ini"}, {"AWS_REGION", "eu-west-2"}},
         "https://bucket.s3.eu-west-2.amazonaws.com/x", "", ""},
        {"s3://bucket/x", {none, {"AWS_ENDPOINT_URL", "http://127.0.0.1:9000/"}},
         "http://127.0.0.1:9000/bucket/x", "", ""},
        // Keys in the environment come before any profile; a session token goes with them.
        {"s3://bucket/x", {keys[0], keys[1], file}, aws + "/x", "ENV", ""},
        {"s3://bucket/x", {keys[0], keys[1], {"AWS_SESSION_TOKEN", "tok"}}, aws + "/x", "ENV", "tok"},
        {"s3://bucket/x", {file}, aws + "/x", "DEFAULTKEY", ""},
        {"s3://bucket/x", {file, {"AWS_PROFILE", "reader"}}, aws + "/x", "TESSARYREADER", ""},
        {"s3://bucket/x", {file, {"AWS_PROFILE", "temp"}}, aws + "/x", "TESSARYTEMP", "tok3n"},
    };
    // The location, the environment, and a piece of the refusal.
    const std::tuple<std::string, Variables, std::string> refused[] = {
        {"s3://bucket/x", {keys[0]}, "without AWS_SECRET_ACCESS_KEY"},
        {"s3://bucket/x", {keys[1]}, "without AWS_ACCESS_KEY_ID"},
        {"s3://bucket/x", {file, {"AWS_PROFILE", "none"}}, "no profile [none] in keys.ini"},
        {"s3://bucket/x", {file, {"AWS_PROFILE", "half"}}, "lacks aws_access_key_id or aws_secret_access_key"},
        {"s3://bucket/x", {{"AWS_SHARED_CREDENTIALS_FILE", "none.ini"}}, "none.ini can't be read"},
        {"s3://bucket/x", {none, {"AWS_CONFIG_FILE", "none.ini"}}, "the AWS config file none.ini can't be read"},
        {"s3://bucket/x", {{"AWS_REGION", "evil.test/"}}, "'evil.test/' is no AWS region"},
        {"s3://Bucket/x", {}, "'Bucket' is no bucket name"},
        {"gs:///x", {}, "'' is no bucket name"},
        {"s3://bucket/x?versionId=1", {}, "no query"},
    };
    // clang-format on
    for (const auto& [location, variables, url, key, token] : opened) {
        SCOPED_TRACE(location);
        const Environment environment(variables);
        ObjectStoreAddress address;
        ASSERT_EQ(objectStoreAddress(location, &address), "");
        EXPECT_EQ(address.url, url);
        EXPECT_EQ(address.access.accessKey, key);
        EXPECT_EQ(address.access.region.empty(), key.empty()); // signed only with keys
        EXPECT_EQ(address.access.sessionToken, token);
        EXPECT_NE(address.access.forbidden.find("HTTP 403"), std::string::npos);
    }
    for (const auto& [location, variables, what] : refused) {
        SCOPED_TRACE(location);
        const Environment environment(variables);
        ObjectStoreAddress address;
        const std::string failure = objectStoreAddress(location, &address);
        EXPECT_NE(failure.find(what), std::string::npos) << failure;
        EXPECT_EQ(failure.find(readerSecret), std::string::npos) << failure;
    }
}

// Where scripts/setup.sh installs s3rver, for the tests only.
const char s3rverModules[] = "/opt/tessary-test/s3rver/node_modules";

// What the S3 server needs that is missing: "" when Node, s3rver and boto3 are all there.
std::string missingS3Tools() {
    if (QStandardPaths::findExecutable("node").isEmpty())
        return "no node";
    if (!QFileInfo::exists(QString(s3rverModules) + "/s3rver/package.json"))
        return std::string("no s3rver in ") + s3rverModules;
    if (QProcess::execute("/usr/bin/python3", {"-c", "import boto3"}) != 0)
        return "no python3-boto3";
    return "";
}

// tests/s3server.js over folder; root is "" when it did not start.
struct S3Server {
    QProcess process;
    std::string root; // http://127.0.0.1:PORT

    explicit S3Server(const QString& folder) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("NODE_PATH", s3rverModules);
        process.setProcessEnvironment(environment);
        process.start(QStandardPaths::findExecutable("node"),
                      {QString::fromStdString(sourceDir()) + "/tests/s3server.js", folder});
        if (process.waitForReadyRead(20000))
            root = "http://127.0.0.1:" + process.readLine().trimmed().toStdString();
    }
    ~S3Server() {
        process.kill();
        process.waitForFinished();
    }
};

// Every file of folder as store.zarr/PATH in each bucket, through boto3. Returns "" or the
// uploader's errors.
std::string upload(const std::string& root, const QString& folder, const QStringList& buckets) {
    QProcess process;
    process.start("/usr/bin/python3",
                  QStringList{QString::fromStdString(sourceDir()) + "/tests/s3upload.py",
                              QString::fromStdString(root), folder, "store.zarr"} +
                      buckets);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return "s3upload.py: " + process.readAllStandardError().toStdString();
    return "";
}

// From an S3 server that checks every signature, a store packs as from its folder: with keys
// from the environment or a profile, temporary ones with their token, or none on a public
// bucket. Wrong keys, or none on a private bucket, are refused in one line that names the
// bucket and shows no secret; a missing store is a missing key.
TEST(ObjectStores, PacksFromS3AsFromTheFolder) {
    if (const std::string missing = missingS3Tools(); !missing.empty())
        GTEST_SKIP() << missing << ": scripts/setup.sh installs the S3 test server";
    const QString stores = scriptOutput("zarrfixtures.py");
    ScratchDir scratch;
    QDir().mkpath("s3");
    const S3Server server(QDir::currentPath() + "/s3");
    ASSERT_FALSE(server.root.empty()) << "tests/s3server.js did not start";
    ASSERT_EQ(upload(server.root, stores + "/ome2.zarr", {"public", "private-scans"}), "");
    const QStringList pack = {"--size", "8", "-o", "out.vol"};
    ASSERT_EQ(runTool(QStringList{"pack", stores + "/ome2.zarr"} + pack).status, 0);
    const std::string expected = fileBytes("out.vol");
    writeFile("keys.ini", credentials);
    const std::pair<const char*, std::string> endpoint = {"AWS_ENDPOINT_URL", server.root};
    const Variables reader = {
        endpoint, {"AWS_ACCESS_KEY_ID", "TESSARYREADER"}, {"AWS_SECRET_ACCESS_KEY", readerSecret}};
    const Variables temp = {endpoint,
                            {"AWS_ACCESS_KEY_ID", "TESSARYTEMP"},
                            {"AWS_SECRET_ACCESS_KEY", tempSecret},
                            {"AWS_SESSION_TOKEN", "tok3n"}};
    const std::string store = "s3://private-scans/store.zarr";
    // The input, the environment, and a piece of the refusal ("" when it packs).
    const std::tuple<std::string, Variables, std::string> rows[] = {
        {store, reader, ""},
        {store, temp, ""},
        {store,
         {endpoint, {"AWS_SHARED_CREDENTIALS_FILE", "keys.ini"}, {"AWS_PROFILE", "reader"}},
         ""},
        {"s3://public/store.zarr", {endpoint}, ""},
        {store,
         {reader[0], reader[1], {"AWS_SECRET_ACCESS_KEY", "se@cret/k-"}},
         "the bucket 'private-scans' refused the credentials given (HTTP 403)"},
        {store, {temp[0], temp[1], temp[2]}, "the bucket 'private-scans' refused the credentials"},
        {store, {endpoint}, "the bucket 'private-scans' is not public (HTTP 403)"},
        {"s3://private-scans/none.zarr", reader, "no Zarr array or image"},
    };
    for (const auto& [input, variables, what] : rows) {
        SCOPED_TRACE(input + " " + variables.back().first);
        QFile::remove("out.vol");
        const Environment environment(variables);
        const ToolRun run = runTool(QStringList{"pack", QString::fromStdString(input)} + pack);
        for (const char* secret : {readerSecret, tempSecret, "se@cret/k-", "tok3n"})
            EXPECT_EQ((run.out + run.err).find(secret), std::string::npos) << run.err;
        if (what.empty()) {
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_TRUE(fileBytes("out.vol") == expected);
            continue;
        }
        expectRefusal(run, input, what);
        EXPECT_FALSE(QFileInfo::exists("out.vol"));
    }
}

} // namespace
