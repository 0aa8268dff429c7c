// Who may do what, decided before any handler runs: the token for writes (and for reads
// beyond loopback), read-only, and the routing answers 404 and 405.
#include "access.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "router.h"

namespace qk42rt::server {
namespace {

struct Ask {
    const char* what;
    AccessPolicy policy;
    const char* method;
    const char* path;
    const char* authorization;
    int status;  // 200: the handler ran
};

TEST(ServerAccess, TheRouterDecidesBeforeAnyHandlerRuns) {
    AccessPolicy open;
    AccessPolicy token;
    token.token = "abc";
    AccessPolicy beyond = token;
    beyond.reads_need_token = true;
    AccessPolicy read_only;
    read_only.read_only = true;
    AccessPolicy read_only_token = token;
    read_only_token.read_only = true;
    const Ask asks[] = {
        {"a read, no token anywhere", open, "GET", "/api/v1/thing", "", 200},
        {"a write, no token anywhere", open, "PUT", "/api/v1/thing", "", 200},
        {"a read on loopback with a token set", token, "GET", "/api/v1/thing", "", 200},
        {"a write without the token", token, "PUT", "/api/v1/thing", "", 401},
        {"a write with a wrong token", token, "PUT", "/api/v1/thing", "Bearer abd", 401},
        {"a write with the token in another scheme", token, "PUT", "/api/v1/thing", "Basic abc",
         401},
        {"a write with the token", token, "PUT", "/api/v1/thing", "Bearer abc", 200},
        {"a read beyond loopback without the token", beyond, "GET", "/api/v1/thing", "", 401},
        {"a read beyond loopback with it", beyond, "GET", "/api/v1/thing", "Bearer abc", 200},
        {"the health check beyond loopback", beyond, "GET", "/healthz", "", 200},
        {"the page beyond loopback", beyond, "GET", "/", "", 200},
        {"a write on a read-only server", read_only, "PUT", "/api/v1/thing", "", 403},
        {"a write with the token on a read-only server", read_only_token, "PUT", "/api/v1/thing",
         "Bearer abc", 403},
        {"a read on a read-only server", read_only, "GET", "/api/v1/thing", "", 200},
        {"an unknown path", open, "GET", "/api/v2/thing", "", 404},
        {"a method the path does not take", open, "POST", "/api/v1/thing", "", 405},
        {"HEAD is GET", open, "HEAD", "/api/v1/thing", "", 200},
    };
    for (const Ask& ask : asks) {
        SCOPED_TRACE(ask.what);
        Router router(ask.policy);
        bool ran = false;
        const auto handler = [&](const httplib::Request&, httplib::Response& response,
                                 const std::smatch&) {
            ran = true;
            response.status = 200;
        };
        router.add("GET", "/api/v1/thing", Kind::read, handler);
        router.add("PUT", "/api/v1/thing", Kind::write, handler);
        router.add("GET", "/healthz", Kind::open, handler);
        router.add("GET", "/", Kind::open, handler);
        httplib::Request request;
        request.method = ask.method;
        request.path = ask.path;
        if (*ask.authorization) request.set_header("Authorization", ask.authorization);
        httplib::Response response;
        router.dispatch(request, response);
        EXPECT_EQ(response.status, ask.status);
        EXPECT_EQ(ran, ask.status == 200);
        if (ask.status == 405) {
            EXPECT_EQ(response.get_header_value("Allow"), "GET, PUT");
        }
    }
}

TEST(ServerAccess, LoopbackNamesAndAddresses) {
    for (const char* host : {"127.0.0.1", "127.1.2.3", "localhost", "::1"}) {
        EXPECT_TRUE(loopback_host(host)) << host;
    }
    for (const char* host : {"0.0.0.0", "::", "192.168.1.5", "128.0.0.1", "lab-pc", ""}) {
        EXPECT_FALSE(loopback_host(host)) << host;
    }
}

TEST(ServerAccess, TheTokenFileMustBeTheOwnersAlone) {
    const std::string path = ::testing::TempDir() + "qk42-token-file-" + std::to_string(getpid());
    struct File {
        const char* text;
        mode_t mode;
        const char* token;  // empty: refused
        const char* says;
    };
    const File files[] = {
        {"tok\n", 0600, "tok", ""},
        {"tok\r\n", 0400, "tok", ""},
        {"tok", 0640, "", "must not be readable or writable by others"},
        {"tok", 0604, "", "must not be readable or writable by others"},
        {"tok", 0620, "", "must not be readable or writable by others"},
        {"\n", 0600, "", "holds no token"},
    };
    for (const File& file : files) {
        SCOPED_TRACE(file.text + std::to_string(file.mode));
        std::remove(path.c_str());
        std::ofstream(path) << file.text;
        chmod(path.c_str(), file.mode);
        std::string error;
        const auto token = read_token_file(path, error);
        if (*file.token) {
            ASSERT_TRUE(token) << error;
            EXPECT_EQ(*token, file.token);
        } else {
            EXPECT_FALSE(token);
            EXPECT_NE(error.find(file.says), std::string::npos) << error;
        }
    }
    std::remove(path.c_str());
}

}  // namespace
}  // namespace qk42rt::server
