// ParseReply (XML to node tree) against pugixml's own load_buffer of the same reply: the share
// of raw parsing speed the node tree keeps.
#include "data/XMLObj.h"
#include "relay/xml/ReplyWriter.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>
#include <string>

namespace {

using quillet::relay::ReplyWriter;

void WriteStatus(ReplyWriter& w, int n) {
    const std::string id = std::to_string(3512339184739812LL + n);
    w.Str("id", id);
    w.BeginDict("text");
    w.Str("text", "早上好 @小明 看看这个 http://t.cn/h5mwx #周末# [哈哈] " + id);
    w.BeginList("blocks");
    const char* blocks[][3] = {
        {"normal", "早上好 ", ""},    {"mention", "@小明", "小明"},
        {"normal", " 看看这个 ", ""}, {"url", "http://t.cn/h5mwx", "http://t.cn/h5mwx"},
        {"trend", "#周末#", "周末"},  {"emotion", "哈哈", ""}};
    for (const auto& b : blocks) {
        w.BeginDict("block");
        w.Str("texttype", b[0]);
        w.Str("text", b[1]);
        w.Str("extra", b[2]);
        w.EndDict();
    }
    w.EndList();
    w.EndDict();
    w.BeginDict("image");
    w.Str("large_url", "http://127.0.0.1:8080/pictures/sina-p" + std::to_string(n % 12) + ".png");
    w.Str("small_url", "http://127.0.0.1:8080/pictures/sina-p" + std::to_string(n % 12) + "s.png");
    w.EndDict();
    w.BeginDict("user");
    w.Str("id", "sina-u" + std::to_string(n % 8));
    w.Str("screen_name", "晨跑的猫");
    w.Str("user_name", "晨跑的猫");
    w.Str("gender", "f");
    w.Str("location", "北京 海淀区");
    w.Str("description", "每天跑五公里 & <坚持>");
    w.Str("website", "");
    w.Bool("verified", n % 3 == 0);
    w.BeginDict("profile_image");
    w.Str("large_url", "http://127.0.0.1:8080/pictures/sina-a1.png");
    w.Str("small_url", "http://127.0.0.1:8080/pictures/sina-a1s.png");
    w.EndDict();
    w.Int("follow_count", 120 + n);
    w.Int("follower_count", 4500 + n);
    w.EndDict();
    w.Int("comment_count", n % 7);
    w.Int("retweet_count", n % 5);
    w.Int("good_count", n % 11);
    w.Int("favor_count", n % 3);
    w.Str("time", "Sat Mar 02 08:15:00 +0800 2024");
    w.Str("application", "Quillet");
}

// Pages of 64 statuses, as a home timeline arrives, until the reply passes 1 MB.
std::string MakeReply() {
    ReplyWriter w;
    w.BeginList("pages");
    int n = 0;
    for (int page = 0; page < 64; ++page) {
        w.BeginDict("page");
        w.BeginList("result");
        for (int i = 0; i < 64; ++i, ++n) {
            w.BeginDict("status");
            WriteStatus(w, n);
            w.EndDict();
        }
        w.EndList();
        w.EndDict();
        // Roughly 2.2 KB per status: stop after the page that passes 1 MB.
        if (n * 2200 > (1 << 20))
            break;
    }
    w.EndList();
    return w.Finish();
}

const std::string& Reply() {
    static const std::string reply = MakeReply();
    return reply;
}

void BM_ParseReply(benchmark::State& state) {
    const std::string& text = Reply();
    for (auto _ : state) {
        auto tree = quillet::ParseReply(text);
        benchmark::DoNotOptimize(tree.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void BM_PugixmlLoadBuffer(benchmark::State& state) {
    const std::string& text = Reply();
    for (auto _ : state) {
        pugi::xml_document doc;
        const auto result = doc.load_buffer(text.data(), text.size());
        if (!result)
            state.SkipWithError("pugixml refused the reply");
        benchmark::DoNotOptimize(doc.first_child().internal_object());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

} // namespace

BENCHMARK(BM_ParseReply)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlLoadBuffer)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
