// For benchmarks: a stand-in for the Plinth API that does no work of its own, so that a post's
// figures show the client's cost and not the service's. It reads each request's body whole and
// answers 201 with a new post id, verifying nothing. The sign-in's user information (a path ending
// in /user/info) answers one blog, kBlog, so that a controller can sign in against the simulator's
// token endpoint and post here. Loopback only; serves until destroyed.
#pragma once

#include <atomic>
#include <string>

#include "testing/http_body_server.h"

namespace marigold {

class SinkServer {
 public:
  static constexpr const char* kBlog = "bench-photos.plinth.example";

  SinkServer()
      : server_([this](const HttpBodyServer::Request& request) {
          if (request.target.ends_with("/user/info")) {
            return HttpBodyServer::Response{
                200,
                std::string(R"({"meta":{"status":200,"msg":"OK"},"response":{"user":{"name":)"
                            R"("bench","blogs":[{"name":"bench-photos","url":"http://)") +
                    kBlog + R"(/"}]}}})",
                "application/json"};
          }
          bodyBytes_ += request.body.size();
          return HttpBodyServer::Response{201,
                                          R"({"meta":{"status":201,"msg":"Created"},)"
                                          R"("response":{"id":)" +
                                              std::to_string(++posts_) + "}}",
                                          "application/json"};
        }) {}

  std::string base() const { return server_.base(); }
  std::size_t posts() const { return posts_; }
  std::size_t bodyBytes() const { return bodyBytes_; }  // of every post so far

 private:
  std::atomic<std::size_t> posts_{0};
  std::atomic<std::size_t> bodyBytes_{0};
  HttpBodyServer server_;  // last: stops serving before the counters go
};

}  // namespace marigold
