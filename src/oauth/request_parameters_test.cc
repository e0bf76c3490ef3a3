#include "oauth/request_parameters.h"

#include <gtest/gtest.h>

#include <string>

#include "base/log.h"

namespace marigold {
namespace {

using namespace OAParameterAdditions;

URLRequest requestFor(std::string_view url, std::string method = "GET") {
  auto parsed = URL::withString(url);
  EXPECT_TRUE(parsed) << url;
  URLRequest request(*parsed);
  request.setHTTPMethod(std::move(method));
  return request;
}

std::string bodyText(const URLRequest& request) {
  const auto body = request.HTTPBody();
  return body ? std::string(body->begin(), body->end()) : std::string("<none>");
}

// name=value pairs of a parameter list, "<absent>" for an absent field.
std::string listed(const std::optional<std::vector<OARequestParameter>>& parameters) {
  if (!parameters) return "<absent>";
  std::string text;
  for (const auto& p : *parameters) {
    text.append("[").append(p.name().value_or("<absent>")).append("|");
    text.append(p.value().value_or("<absent>")).append("]");
  }
  return text;
}

TEST(RequestParametersTest, ReadFromQueryOrBody) {
  struct Case {
    const char* method;
    const char* url;
    std::optional<std::string> body;
    std::optional<std::string> contentType;
    const char* want;
  };
  const Case kCases[] = {
      {"GET", "http://h/p?a=1&b=%20x", {}, {}, "[a|1][b| x]"},
      {"DELETE", "http://h/p?a=1#frag", {}, {}, "[a|1]"},
      {"GET", "http://h/p", "a=1", {}, "<absent>"},
      {"GET", "http://h/p?", {}, {}, "<absent>"},
      {"get", "http://h/p?a=1", "b=2", {}, "[b|2]"},  // method names are exact
      {"POST", "http://h/p?q=9", "a=1+2", {}, "[a|1 2]"},
      {"POST", "http://h/p", "a=%2B&b=x=y", {}, "[a|+][b|x=y]"},
      {"POST", "http://h/p", "c2&a3=2+q&&", {}, "[c2|][a3|2 q]"},
      {"POST", "http://h/p", "a=1&a=1&=v", {}, "[a|1][a|1][|v]"},
      {"POST", "http://h/p", "a=%zz&%C3%A9=%C3", {}, "[a|<absent>][\xC3\xA9|<absent>]"},
      {"POST", "http://h/p", "", {}, "<absent>"},
      {"POST", "http://h/p", {}, {}, "<absent>"},
      {"POST", "http://h/p", "a=\xC3\xA9", {}, "<absent>"},
      {"POST", "http://h/p", "a=1", "multipart/form-data; boundary=x", "<absent>"},
      {"POST", "http://h/p", "a=1", "text/plain; multipart/form-data", "[a|1]"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.url);
    URLRequest request = requestFor(c.url, c.method);
    if (c.body) request.setHTTPBody(Bytes(c.body->begin(), c.body->end()));
    if (c.contentType) request.setValue(c.contentType, "Content-Type");
    EXPECT_EQ(listed(parameters(request)), c.want);
  }
}

TEST(RequestParametersTest, LogMasksSecrets) {
  URLRequest request = requestFor("http://h/p", "POST");
  setHTTPBodyWithString(request,
                        "x_auth_username=me&x_auth_password=hunter2&oauth_token_secret=ts&"
                        "x%5Fauth%5Fpassword=again&x=1");
  LogCapture capture;
  ASSERT_TRUE(parameters(request));
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(capture.lines()[0],
            "raw parameters x_auth_username=me&x_auth_password=***&oauth_token_secret=***&"
            "x%5Fauth%5Fpassword=***&x=1");
}

TEST(RequestParametersTest, WriteToBody) {
  URLRequest request = requestFor("http://h/p?keep=1", "POST");
  const OARequestParameter list[] = {{"a", "1"}, {"b", "2"}, {"s p", "x&y=z"}};
  setParameters(request, std::span(list, 2));
  EXPECT_EQ(bodyText(request), "a=1&b=2");
  EXPECT_EQ(request.valueForHTTPHeaderField("Content-Length"), "7");
  EXPECT_EQ(request.valueForHTTPHeaderField("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(request.url().absoluteString(), "http://h/p?keep=1");

  setParameters(request, list);
  EXPECT_EQ(bodyText(request), "a=1&b=2&s%20p=x%26y%3Dz");
  // What is written reads back unchanged.
  const auto back = parameters(request);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE((*back)[i].isEqualToRequestParameter(list[i])) << i;
  }
}

TEST(RequestParametersTest, WriteToQuery) {
  struct Case {
    const char* url;
    std::size_t count;
    const char* want;
  };
  const Case kCases[] = {
      {"http://h/p?old=1", 0, "http://h/p?"},
      {"http://h/p?old=1", 2, "http://h/p?a=1&b=%2B"},
      {"http://h/p#frag", 1, "http://h/p?a=1"},
      {"HTTP://Host:8080/p?x#y", 1, "HTTP://Host:8080/p?a=1"},
  };
  const OARequestParameter list[] = {{"a", "1"}, {"b", "+"}};
  for (const Case& c : kCases) {
    URLRequest request = requestFor(c.url, "GET");
    setParameters(request, std::span(list, c.count));
    EXPECT_EQ(request.url().absoluteString(), c.want);
    EXPECT_FALSE(request.HTTPBody());
    EXPECT_FALSE(request.valueForHTTPHeaderField("Content-Type"));
  }
}

TEST(RequestParametersTest, TextBodyIsASCII) {
  struct Case {
    std::string_view text, body;
  };
  const Case kCases[] = {
      {"", ""},
      {"a=1", "a=1"},
      {"caf\xC3\xA9!", "caf?!"},               // two-byte character
      {"\xE2\x82\xAC\xF0\x9F\x93\xB7", "??"},  // euro sign, camera emoji
      {"a\xFF\x80z", "a??z"},                  // stray bytes, one each
      {std::string_view("a\0b", 3), std::string_view("a\0b", 3)},
  };
  for (const Case& c : kCases) {
    URLRequest request = requestFor("http://h/", "POST");
    setHTTPBodyWithString(request, c.text);
    EXPECT_EQ(bodyText(request), c.body);
    EXPECT_EQ(request.valueForHTTPHeaderField("Content-Length"), std::to_string(c.body.size()));
  }
}

const std::string kB = "-----------------------------------0xCoCoaouTHeBouNDaRy";

TEST(RequestParametersTest, BoundaryText) {
  EXPECT_EQ(kBoundary, kB);
  EXPECT_EQ(kBoundary.size(), 55u);
}

TEST(RequestParametersTest, MultipartBytes) {
  URLRequest request = requestFor("http://h/up", "POST");
  const OARequestParameter fields[] = {{"a b", "x y"}, {"n", ""}};
  setParameters(request, fields);
  const Bytes photo = {0x00, 0xFF, '\r', '\n', '-', '-'};
  attachFileWithName(request, "photo", "p.jpg", "image/jpeg", photo);

  const std::string want = "--" + kB +
                           "\r\nContent-Disposition: form-data; name=\"a%20b\"\r\n\r\nx y\r\n"
                           "--" +
                           kB +
                           "\r\nContent-Disposition: form-data; name=\"n\"\r\n\r\n\r\n"
                           "--" +
                           kB +
                           "\r\nContent-Disposition: form-data; name=\"photo\"; "
                           "filename=\"p.jpg\"\r\nContent-Type: image/jpeg\r\n\r\n" +
                           std::string("\x00\xFF\r\n--", 6) + "\r\n--" + kB + "--\r\n";
  EXPECT_EQ(bodyText(request), want);
  EXPECT_EQ(request.valueForHTTPHeaderField("Content-Length"), std::to_string(want.size()));
  EXPECT_EQ(request.valueForHTTPHeaderField("content-type"), "multipart/form-data; boundary=" + kB);
  EXPECT_TRUE(isMultipart(request));

  // A second attach finds no parameters in a multipart request: only the new file remains.
  attachFileWithName(request, "f", "g", "t", Bytes{'z'});
  EXPECT_EQ(bodyText(request), "--" + kB +
                                   "\r\nContent-Disposition: form-data; name=\"f\"; "
                                   "filename=\"g\"\r\nContent-Type: t\r\n\r\nz\r\n--" +
                                   kB + "--\r\n");
}

TEST(RequestParametersTest, MultipartKeepsQueryOfGet) {
  URLRequest request = requestFor("http://h/up?q=1", "GET");
  attachFileWithName(request, "f", "g", "t", Bytes{});
  EXPECT_EQ(request.url().absoluteString(), "http://h/up?q=1");
  EXPECT_EQ(bodyText(request), "--" + kB +
                                   "\r\nContent-Disposition: form-data; name=\"q\"\r\n\r\n1\r\n"
                                   "--" +
                                   kB +
                                   "\r\nContent-Disposition: form-data; name=\"f\"; "
                                   "filename=\"g\"\r\nContent-Type: t\r\n\r\n\r\n--" +
                                   kB + "--\r\n");
}

TEST(RequestParametersTest, AttachFilesNumbersFileNames) {
  URLRequest request = requestFor("http://h/up", "POST");
  const Bytes one = {'1'};
  const Bytes two = {'2', '2'};
  const FileAttachment files[] = {{"f", "a.txt", "text/plain", one},
                                  {"f", "b.bin", "application/octet-stream", two}};
  attachFiles(request, files);
  EXPECT_EQ(bodyText(request),
            "--" + kB +
                "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.txt-0\"\r\n"
                "Content-Type: text/plain\r\n\r\n1\r\n"
                "--" +
                kB +
                "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"b.bin-1\"\r\n"
                "Content-Type: application/octet-stream\r\n\r\n22\r\n--" +
                kB + "--\r\n");
}

}  // namespace
}  // namespace marigold
