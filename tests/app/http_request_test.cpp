// The preview server's request-head reader: what it accepts, what it refuses
// with which status, and the replay of the fuzz target's inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/preview/http_request.h"

namespace fuzzing {
int RunHttpRequestInput(const uint8_t* data, size_t size);
}

namespace {

using lumets::HttpRequest;
namespace fs = std::filesystem;

int StatusOf(const std::string& head, uint64_t maxBody = 1000) {
    HttpRequest req;
    const auto refusal = lumets::ParseRequestHead(head, maxBody, req);
    return refusal ? refusal->Status : 200;
}

TEST(HttpRequestHead, ReadsMethodPathQueryAndHeaders) {
    HttpRequest req;
    ASSERT_FALSE(lumets::ParseRequestHead("POST /api/a%20b?token=t%2B1&x=1+2&flag HTTP/1.1\r\n"
                                          "Host: 127.0.0.1:80\r\nContent-Type:  application/json \r\n"
                                          "Content-Length: 12\r\nX-Lumets-Token: abc",
                                          100, req));
    EXPECT_EQ(req.Method, "POST");
    EXPECT_EQ(req.Path, "/api/a b");
    EXPECT_EQ(req.Param("token"), "t+1");
    EXPECT_EQ(req.Param("x"), "1 2");
    EXPECT_EQ(req.Param("flag"), "");
    EXPECT_FALSE(req.Param("other"));
    EXPECT_EQ(req.Header("content-type"), "application/json");
    EXPECT_EQ(req.Header("x-lumets-token"), "abc");
    EXPECT_EQ(req.ContentLength, 12u);
}

TEST(HttpRequestHead, RefusesWhatCouldBeReadTwoWaysOrWithoutBound) {
    const std::string get = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    EXPECT_EQ(StatusOf(get), 200);
    EXPECT_EQ(StatusOf(get + "host: attacker.example\r\n"), 400);
    EXPECT_EQ(StatusOf(get + "Content-Length: 5\r\nContent-Length: 5\r\n"), 400);
    EXPECT_EQ(StatusOf(get + "X-Lumets-Token: a\r\nX-Lumets-Token: b\r\n"), 400);
    EXPECT_EQ(StatusOf(get + "Transfer-Encoding: chunked\r\n"), 411);
    EXPECT_EQ(StatusOf(get + "Content-Length: 1000\r\n"), 200);
    EXPECT_EQ(StatusOf(get + "Content-Length: 1001\r\n"), 413);
    EXPECT_EQ(StatusOf(get + "Content-Length: 99999999999999999999999\r\n"), 400);
    EXPECT_EQ(StatusOf(get + "Content-Length: -1\r\n"), 400);
    EXPECT_EQ(StatusOf(get + "Content-Length: 1e3\r\n"), 400);
    EXPECT_EQ(StatusOf(get + " folded: line\r\n"), 400);
    EXPECT_EQ(StatusOf(get + "Bad Name: x\r\n"), 400);
    EXPECT_EQ(StatusOf(get + "X: a\x01" "b\r\n"), 400);
    EXPECT_EQ(StatusOf(get + std::string("X: a\0b\r\n", 8)), 400);
    std::string many = get;
    for (int i = 0; i < 100; ++i) many += "X-" + std::to_string(i) + ": 1\r\n";
    EXPECT_EQ(StatusOf(many), 431);
    EXPECT_EQ(StatusOf("GET / HTTP/1.1\r\n"), 400);  // no Host
    EXPECT_EQ(StatusOf("GET / HTTP/1.0\r\n"), 200);
    EXPECT_EQ(StatusOf("GET / HTTP/2.0\r\nHost: a\r\n"), 505);
    EXPECT_EQ(StatusOf("GET  / HTTP/1.1\r\nHost: a\r\n"), 400);
    EXPECT_EQ(StatusOf("get / HTTP/1.1\r\nHost: a\r\n"), 400);
    EXPECT_EQ(StatusOf("GET http://a/ HTTP/1.1\r\nHost: a\r\n"), 400);
    EXPECT_EQ(StatusOf("GET /a%00 HTTP/1.1\r\nHost: a\r\n"), 400);
    EXPECT_EQ(StatusOf("GET /a%4 HTTP/1.1\r\nHost: a\r\n"), 400);
    EXPECT_EQ(StatusOf("GET /?x=%0a HTTP/1.1\r\nHost: a\r\n"), 400);
    EXPECT_EQ(StatusOf("GET /?token=a&token=b HTTP/1.1\r\nHost: a\r\n"), 400);
    EXPECT_EQ(StatusOf(""), 400);
}

TEST(HttpRequestHead, TokensCompareWholeAndMessagesStayOneLine) {
    EXPECT_TRUE(lumets::EqualInConstantTime("abc", "abc"));
    EXPECT_FALSE(lumets::EqualInConstantTime("abc", "abd"));
    EXPECT_FALSE(lumets::EqualInConstantTime("abc", "ab"));
    EXPECT_FALSE(lumets::EqualInConstantTime("", "a"));
    EXPECT_EQ(lumets::Printable(std::string("a\0b\nc\x7f\xc3\xa9", 8)), "a\\x00b\\x0Ac\\x7F\xc3\xa9");
}

// Every committed input of the fuzz target goes through its checks (a failed
// check aborts), plus the reader's worst cases.
TEST(HttpRequestHead, FuzzInputsReplayCleanly) {
    std::vector<std::string> inputs = {std::string(20000, 'A'), std::string(20000, '\n'),
                                       "GET /" + std::string(20000, '%') + " HTTP/1.1\r\n"};
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(fs::path(LUMETS_SOURCE_DIR) / "fuzz" / "corpus" / "http_request")) {
        std::ifstream f(e.path(), std::ios::binary);
        inputs.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        ++files;
    }
    EXPECT_GE(files, 5u);
    for (const std::string& in : inputs)
        EXPECT_EQ(fuzzing::RunHttpRequestInput(reinterpret_cast<const uint8_t*>(in.data()), in.size()), 0);
}

}  // namespace
