// Throughput of the text scans and tag stripping on generated HTML-like GBK pages of
// 10 KB to 10 MB, with plain std::string_view::find and memchr loops on the same bytes as
// baselines. The pages hold about one tag per 52 bytes (20,000 tags per MiB), GBK text
// and a line feed every few lines, like the trace and WHOIS pages the tool cuts up.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>

#include "support/literal_strip_tags.h"
#include "text/extract.h"
#include "text/text.h"

namespace tessaly {
namespace {

constexpr std::int64_t KiB = 1024;
constexpr std::int64_t MiB = 1024 * KiB;

struct Page {
    std::string bytes;
    std::int64_t tags = 0;
    std::int64_t lineFeeds = 0;
};

Page generatePage(std::size_t size) {
    static const char* const tags[] = {
        "<td>",
        "</td>",
        "<tr>",
        "</tr>",
        "<br />",
        "<b>",
        "</b>",
        "<B>",
        "</B>",
        "<p>",
        "<div class=\"row\">",
        "</div>",
        "<a href=\"http://example.com/whois?q=x\">",
        "</a>",
        "<pre>",
        "</PRE>",
    };
    constexpr std::size_t tagCount = sizeof tags / sizeof tags[0];
    static const char ascii[] = "abcdefghijklmnopqrstuvwxyz0123456789 .:-_ ";
    std::mt19937_64 rng(size);
    Page page;
    page.bytes.reserve(size + 128);
    while (page.bytes.size() < size) {
        page.bytes += tags[rng() % tagCount];
        ++page.tags;
        // About 44 bytes of text between tags: ASCII and GBK characters (lead B0-F7,
        // trail A1-FE), now and then a line feed.
        std::size_t textBytes = 24 + rng() % 41;
        for (std::size_t i = 0; i < textBytes;) {
            std::uint64_t r = rng();
            if (r % 100 < 35) {
                page.bytes += static_cast<char>(0xB0 + (r >> 8) % 0x48);
                page.bytes += static_cast<char>(0xA1 + (r >> 16) % 0x5E);
                i += 2;
            } else if (r % 100 < 38) {
                page.bytes += '\n';
                ++page.lineFeeds;
                ++i;
            } else {
                page.bytes += ascii[(r >> 8) % (sizeof ascii - 1)];
                ++i;
            }
        }
    }
    return page;
}

const Page& pageOf(std::int64_t size) {
    static std::map<std::int64_t, Page> pages;
    auto it = pages.find(size);
    if (it == pages.end()) {
        it = pages.emplace(size, generatePage(static_cast<std::size_t>(size))).first;
    }
    return it->second;
}

void countBytes(benchmark::State& state, const Page& page) {
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(page.bytes.size()));
    state.counters["tags"] = static_cast<double>(page.tags);
}

// A marker that the page does not hold: the whole page is scanned.
constexpr std::string_view absentMarker = "</html>";
// 未知, also absent; its bytes may turn up across character boundaries.
constexpr std::string_view absentGbk = "\xCE\xB4\xD6\xAA\xA3\xBA";

void findTextAbsent(benchmark::State& state) {
    const Page& page = pageOf(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(findText(page.bytes, absentMarker));
    }
    countBytes(state, page);
}

void stringViewFindAbsent(benchmark::State& state) {
    const Page& page = pageOf(state.range(0));
    const std::string_view text = page.bytes;
    for (auto _ : state) {
        benchmark::DoNotOptimize(text.find(absentMarker));
    }
    countBytes(state, page);
}

void findTextAbsentGbk(benchmark::State& state) {
    const Page& page = pageOf(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(findText(page.bytes, absentGbk));
    }
    countBytes(state, page);
}

void stringViewFindAbsentGbk(benchmark::State& state) {
    const Page& page = pageOf(state.range(0));
    const std::string_view text = page.bytes;
    for (auto _ : state) {
        benchmark::DoNotOptimize(text.find(absentGbk));
    }
    countBytes(state, page);
}

// The marker searches of extractBetween ignore case.
void findTextAbsentIgnoringCase(benchmark::State& state) {
    const Page& page = pageOf(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(findText(page.bytes, absentMarker, 1, true));
    }
    countBytes(state, page);
}

void replaceTextLineFeeds(benchmark::State& state) {
    const Page& page = pageOf(state.range(0));
    for (auto _ : state) {
        Text out = replaceText(page.bytes, "\n", "\r\n", true);
        benchmark::DoNotOptimize(out.data());
    }
    countBytes(state, page);
    state.counters["LF"] = static_cast<double>(page.lineFeeds);
}

// LF -> CR LF with memchr and appends, no character stepping.
void memchrReplaceLineFeeds(benchmark::State& state) {
    const Page& page = pageOf(state.range(0));
    const std::string_view text = page.bytes;
    for (auto _ : state) {
        std::string out;
        out.reserve(text.size());
        const char* p = text.data();
        const char* end = p + text.size();
        while (p < end) {
            const void* hit = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            if (hit == nullptr) {
                out.append(p, end);
                break;
            }
            const char* lf = static_cast<const char*>(hit);
            out.append(p, lf);
            out.append("\r\n");
            p = lf + 1;
        }
        benchmark::DoNotOptimize(out.data());
    }
    countBytes(state, page);
    state.counters["LF"] = static_cast<double>(page.lineFeeds);
}

void extractBetweenBrackets(benchmark::State& state) {
    const Page& page = pageOf(state.range(0));
    TextList pieces;
    for (auto _ : state) {
        benchmark::DoNotOptimize(extractBetween(page.bytes, "<", ">", pieces));
    }
    countBytes(state, page);
    state.counters["pieces"] = static_cast<double>(pieces.size());
}

void extractBetweenCells(benchmark::State& state) {
    const Page& page = pageOf(state.range(0));
    TextList pieces;
    for (auto _ : state) {
        benchmark::DoNotOptimize(extractBetween(page.bytes, "<td>", "</td>", pieces));
    }
    countBytes(state, page);
    state.counters["pieces"] = static_cast<double>(pieces.size());
}

void stripTagsFast(benchmark::State& state) {
    const Page& page = pageOf(state.range(0));
    for (auto _ : state) {
        Text out = stripTags(page.bytes);
        benchmark::DoNotOptimize(out.data());
    }
    countBytes(state, page);
}

void stripTagsReference(benchmark::State& state) {
    const Page& page = pageOf(state.range(0));
    for (auto _ : state) {
        Text out = testing::literalStripTags(page.bytes);
        benchmark::DoNotOptimize(out.data());
    }
    countBytes(state, page);
}

// The same page with one nested tag ("<a<b>") in front: no longer flat, so every tag goes
// through the hashed buckets instead of the single removal pass.
void stripTagsFastNested(benchmark::State& state) {
    const std::string input = "<a<b>" + pageOf(state.range(0)).bytes;
    for (auto _ : state) {
        Text out = stripTags(input);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.size()));
}

// An adversarial input: "<b>", then n "<" without their own ">", then n "<b>". The first
// piece deletes every "<b>", and each deletion gives all n open "<" a new tag, so the fast
// stripper does n x n updates here; the literal one is quadratic as well.
std::string openRun(std::int64_t size) {
    const auto n = static_cast<std::size_t>(size / 4);
    std::string s = "<b>" + std::string(n, '<');
    for (std::size_t i = 0; i < n; ++i) {
        s += "<b>";
    }
    return s;
}

void stripTagsFastOpenRun(benchmark::State& state) {
    const std::string input = openRun(state.range(0));
    for (auto _ : state) {
        Text out = stripTags(input);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.size()));
}

void stripTagsReferenceOpenRun(benchmark::State& state) {
    const std::string input = openRun(state.range(0));
    for (auto _ : state) {
        Text out = testing::literalStripTags(input);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.size()));
}

void allSizes(benchmark::internal::Benchmark* b) {
    b->Arg(10 * KiB)->Arg(100 * KiB)->Arg(MiB)->Arg(10 * MiB);
}

BENCHMARK(findTextAbsent)->Apply(allSizes);
BENCHMARK(stringViewFindAbsent)->Apply(allSizes);
BENCHMARK(findTextAbsentGbk)->Apply(allSizes);
BENCHMARK(stringViewFindAbsentGbk)->Apply(allSizes);
BENCHMARK(findTextAbsentIgnoringCase)->Apply(allSizes);
BENCHMARK(replaceTextLineFeeds)->Apply(allSizes);
BENCHMARK(memchrReplaceLineFeeds)->Apply(allSizes);
BENCHMARK(extractBetweenBrackets)->Apply(allSizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(extractBetweenCells)->Apply(allSizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(stripTagsFast)->Apply(allSizes)->Unit(benchmark::kMillisecond);
BENCHMARK(stripTagsFastNested)->Apply(allSizes)->Unit(benchmark::kMillisecond);
// The literal algorithm costs (pieces) x (length): a single run on 1 MiB takes seconds,
// 10 MiB would take hours.
BENCHMARK(stripTagsReference)->Arg(10 * KiB)->Arg(100 * KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(stripTagsReference)->Arg(MiB)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(stripTagsFastOpenRun)
    ->Arg(4 * KiB)
    ->Arg(8 * KiB)
    ->Arg(16 * KiB)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(stripTagsReferenceOpenRun)
    ->Arg(4 * KiB)
    ->Arg(8 * KiB)
    ->Arg(16 * KiB)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessaly

// Output buffers of up to 32 MiB come from the heap and stay mapped between iterations.
// Left to itself, glibc maps large blocks afresh (and pays a page fault per 4 KiB on first
// touch) until an earlier free has raised its threshold, so a figure would depend on which
// benchmarks ran before it.
int main(int argc, char** argv) {
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
