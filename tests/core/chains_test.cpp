// The lookup-chain runner: which steps run, on which domain, decided by what the output box
// holds before each later step.
#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "app/chains.h"
#include "support/memory_ports.h"
#include "support/show_bytes.h"
#include "whois/whois_query.h"

namespace tessaly {
namespace {

using testing::MemoryDomainBox;
using testing::showBytes;

// An output box whose reads are scripted: each read takes the next text (the last one
// repeats), so a test decides what every test of the chain sees.
class ScriptedOutputBox final : public OutputBox {
public:
    explicit ScriptedOutputBox(std::vector<Text> reads) : reads_(reads.begin(), reads.end()) {}
    void setText(std::string_view text) override { events.push_back("set " + Text(text)); }
    Text readText() override {
        events.push_back("read");
        Text next = reads_.empty() ? Text() : reads_.front();
        if (reads_.size() > 1) {
            reads_.pop_front();
        }
        return next;
    }
    void appendText(std::string_view text) override { events.push_back("append " + Text(text)); }
    void caretToStart() override { events.push_back("caret"); }

    std::vector<std::string> events;

private:
    std::deque<Text> reads_;
};

class CountingDomainBox final : public DomainBox {
public:
    explicit CountingDomainBox(Text text) : text_(std::move(text)) {}
    Text readText() override {
        ++reads;
        return text_;
    }
    int reads = 0;

private:
    Text text_;
};

// The steps record the domain they were given into the box's event list.
template <int N>
void recordingStep(Text& domain, LookupContext& context) {
    static_cast<ScriptedOutputBox&>(context.outputBox)
        .events.push_back("step" + std::to_string(N) + " " + domain);
}
void replacingStep(Text& domain, LookupContext& context) {
    recordingStep<1>(domain, context);
    domain = "reduced";
}

// A chain of the given steps, which it holds for as long as it lives.
struct TestChain {
    bool writesBusyTextFirst = false;
    std::vector<ChainStep> steps;
    operator LookupChain() const { return {"test", writesBusyTextFirst, steps}; }
};

TestChain chainOf(bool writesBusyTextFirst, std::initializer_list<LookupStep> steps) {
    TestChain chain{writesBusyTextFirst, {}};
    for (LookupStep step : steps) {
        chain.steps.push_back({"step", step});
    }
    return chain;
}

struct ChainRun {
    ScriptedOutputBox box;
    CountingDomainBox domainBox{"www.example.com"};
    testing::UnreachableWhoisConnection connection;
    Endpoints endpoints;

    explicit ChainRun(std::vector<Text> reads) : box(std::move(reads)) {}
    std::vector<std::string> run(const LookupChain& chain) {
        LookupContext context{box, connection, endpoints};
        runChain(chain, domainBox, context);
        return box.events;
    }
};

const TestChain threeSteps = chainOf(false, {recordingStep<1>, recordingStep<2>, recordingStep<3>});

TEST(RunChain, LaterStepRunsOnlyWhenTheBoxHoldsExactlyUnknown) {
    struct Case {
        std::string box;
        bool runs;
    };
    const std::string unknown(unknownText);
    const Case cases[] = {
        {unknown, true},
        {unknown + "\r\n", false},
        {" " + unknown, false},
        {unknown + "\xB4", false},      // and a stray byte
        {unknown.substr(0, 2), false},  // 未
        {"", false},                    // the empty box
        {std::string(busyText), false},
    };
    for (const Case& c : cases) {
        ChainRun run({c.box});
        const auto events = run.run(chainOf(false, {recordingStep<1>, recordingStep<2>}));
        const std::vector<std::string> expected =
            c.runs
                ? std::vector<std::string>{"step1 www.example.com", "read", "step2 www.example.com"}
                : std::vector<std::string>{"step1 www.example.com", "read"};
        EXPECT_EQ(events, expected) << showBytes(c.box);
    }
}

TEST(RunChain, EveryTestIsMadeWhetherOrNotTheStepBeforeRan) {
    struct Case {
        std::vector<Text> reads;
        std::vector<std::string> events;
    };
    const Text unknown(unknownText);
    const Case cases[] = {
        {{"answer"}, {"step1 www.example.com", "read", "read"}},
        {{unknown},
         {"step1 www.example.com", "read", "step2 www.example.com", "read",
          "step3 www.example.com"}},
        // Step 2 skipped, yet another thread wrote "未知" before the next test.
        {{"answer", unknown}, {"step1 www.example.com", "read", "read", "step3 www.example.com"}},
        {{unknown, "answer"}, {"step1 www.example.com", "read", "step2 www.example.com", "read"}},
    };
    for (const Case& c : cases) {
        ChainRun run(c.reads);
        EXPECT_EQ(run.run(threeSteps), c.events);
    }
}

TEST(RunChain, ReadsTheDomainOnceAndHandsOnItsReplacement) {
    ChainRun run({Text(unknownText)});
    const auto events = run.run(chainOf(false, {replacingStep, recordingStep<2>}));
    EXPECT_EQ(run.domainBox.reads, 1);
    EXPECT_EQ(events, (std::vector<std::string>{"step1 www.example.com", "read", "step2 reduced"}));
}

TEST(RunChain, BusyTextComesBeforeTheFirstStep) {
    ChainRun run({"answer"});
    const auto events = run.run(chainOf(true, {recordingStep<1>, recordingStep<2>}));
    EXPECT_EQ(events,
              (std::vector<std::string>{"set " + Text(busyText), "step1 www.example.com", "read"}));
    ChainRun empty({"answer"});
    EXPECT_EQ(empty.run(chainOf(true, {})), std::vector<std::string>{"set " + Text(busyText)});
}

TEST(Chains, WhoisStartsWithTheTcpQueryAndTraceWithTheBusyText) {
    ASSERT_FALSE(whoisChain().steps.empty());
    EXPECT_EQ(whoisChain().steps.front().run, &queryWhoisServer);
    EXPECT_FALSE(whoisChain().writesBusyTextFirst);
    EXPECT_TRUE(traceChain().writesBusyTextFirst);
}

}  // namespace
}  // namespace tessaly
