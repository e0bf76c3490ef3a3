// JSON parsing and writing: our parser and writer beside nlohmann::json, RapidJSON (DOM) and
// simdjson (DOM, parsing only), on a ~2 KB user-information reply and a ~1 MB mixed document.
// Every parse builds a full tree and releases the previous one; every write produces one text.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "json/lx_json_parser.h"
#include "json/lx_json_writer.h"

namespace {

// A user-information reply of the shape the service sends, with six blogs (~2 KB).
std::string userReply() {
  std::string text = R"({"meta":{"status":200,"msg":"OK"},"response":{"user":{"following":263,)"
                     R"("default_post_format":"html","name":"derek","likes":606,"blogs":[)";
  for (int i = 0; i < 6; ++i) {
    if (i != 0) text += ',';
    const std::string n = std::to_string(i);
    text += R"({"name":"blog)" + n + R"(","title":"Photos from the road, part )" + n +
            R"( \u2014 caf\u00e9 edition","url":"http://blog)" + n +
            R"(.plinth.example/","tweet":"auto","primary":)" + (i == 0 ? "true" : "false") +
            R"(,"followers":)" + std::to_string(33004929 / (i + 1)) +
            R"(,"type":"public","admin":true,"queue":)" + std::to_string(i * 3) +
            R"(,"drafts":0,"ask":false,"updated":1308953007,"ratio":0.)" + n + "5}";
  }
  return text + "]}}}";
}

// A mixed document of about 1 MB: records with short and long strings (ASCII, escapes, UTF-8),
// integers, decimals, booleans, nulls, nested arrays and objects. Deterministic.
std::string mixedDocument() {
  std::string text = "[";
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int i = 0; text.size() < 1'000'000; ++i) {
    if (i != 0) text += ',';
    const std::string n = std::to_string(next() % 100000);
    text += R"({"id":)" + std::to_string(i) + R"(,"name":"item )" + n +
            R"(","description":"A somewhat longer text with \"quotes\", a tab\t and )"
            R"(caf\u00e9 or café, written for record number )" +
            n + R"(","price":)" + std::to_string(next() % 10000) + "." +
            std::to_string(next() % 100) + R"(,"ratio":)" + std::to_string(next() % 1000) + "e-3" +
            R"(,"active":)" + (next() % 2 ? "true" : "false") +
            R"(,"parent":null,"tags":["red","green","blue"],"size":{"w":)" +
            std::to_string(next() % 4000) + R"(,"h":)" + std::to_string(next() % 3000) +
            R"(},"values":[)" + std::to_string(next() % 100) + "," + std::to_string(next() % 1000) +
            ",-" + std::to_string(next() % 10000) + "]}";
  }
  return text + "]";
}

const std::string& document(int which) {
  static const std::string kReply = userReply();
  static const std::string kMixed = mixedDocument();
  return which == 0 ? kReply : kMixed;
}

void setLabel(benchmark::State& state, const std::string& text) {
  state.SetLabel(state.range(0) == 0 ? "reply 2KB" : "mixed 1MB");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_JsonParse_Ours(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  marigold::LxJsonParser parser;
  for (auto _ : state) {
    std::optional<marigold::JsonValue> value = parser.objectWithString(text);
    if (!value) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(value);
  }
  setLabel(state, text);
}

void BM_JsonParse_Nlohmann(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    nlohmann::json value = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(value);
  }
  setLabel(state, text);
}

void BM_JsonParse_RapidJSON(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    rapidjson::Document value;
    value.Parse(text.c_str(), text.size());
    if (value.HasParseError()) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(value);
  }
  setLabel(state, text);
}

void BM_JsonParse_Simdjson(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  simdjson::dom::parser parser;
  for (auto _ : state) {
    simdjson::dom::element value;
    if (parser.parse(text.data(), text.size()).get(value) != simdjson::SUCCESS) {
      state.SkipWithError("parse failed");
    }
    benchmark::DoNotOptimize(value);
  }
  setLabel(state, text);
}

void BM_JsonWrite_Ours(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  marigold::LxJsonParser parser;
  const marigold::JsonValue value = *parser.objectWithString(text);
  marigold::LxJsonWriter writer;
  for (auto _ : state) {
    std::optional<std::string> out = writer.stringWithObject(value);
    benchmark::DoNotOptimize(out);
  }
  setLabel(state, text);
}

void BM_JsonWrite_Nlohmann(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  const nlohmann::json value = nlohmann::json::parse(text);
  for (auto _ : state) {
    std::string out = value.dump();
    benchmark::DoNotOptimize(out);
  }
  setLabel(state, text);
}

void BM_JsonWrite_RapidJSON(benchmark::State& state) {
  const std::string& text = document(static_cast<int>(state.range(0)));
  rapidjson::Document value;
  value.Parse(text.c_str(), text.size());
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    benchmark::DoNotOptimize(buffer.GetString());
  }
  setLabel(state, text);
}

BENCHMARK(BM_JsonParse_Ours)->Arg(0)->Arg(1);
BENCHMARK(BM_JsonParse_Nlohmann)->Arg(0)->Arg(1);
BENCHMARK(BM_JsonParse_RapidJSON)->Arg(0)->Arg(1);
BENCHMARK(BM_JsonParse_Simdjson)->Arg(0)->Arg(1);
BENCHMARK(BM_JsonWrite_Ours)->Arg(0)->Arg(1);
BENCHMARK(BM_JsonWrite_Nlohmann)->Arg(0)->Arg(1);
BENCHMARK(BM_JsonWrite_RapidJSON)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
