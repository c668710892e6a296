// In-memory, thread-safe stand-ins for the window's ports, for the Qt-free tests.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "lookup/ports.h"

namespace tessaly::testing {

// An output box that keeps its bytes and a log of every operation, each operation whole.
class MemoryOutputBox : public OutputBox {
public:
    explicit MemoryOutputBox(std::string_view initial = {}) : text_(initial) {}

    void setText(std::string_view text) override {
        std::lock_guard lock(mutex_);
        text_.assign(text);
        log_.emplace_back("set", Text(text));
    }
    Text readText() override {
        std::lock_guard lock(mutex_);
        return text_;
    }
    void appendText(std::string_view text) override {
        std::lock_guard lock(mutex_);
        text_.append(text);
        log_.emplace_back("append", Text(text));
    }
    void caretToStart() override {
        std::lock_guard lock(mutex_);
        log_.emplace_back("caret", Text());
    }
    // Every write so far: ("set"|"append"|"caret", text).
    std::vector<std::pair<std::string, Text>> log() {
        std::lock_guard lock(mutex_);
        return log_;
    }

private:
    std::mutex mutex_;
    Text text_;
    std::vector<std::pair<std::string, Text>> log_;
};

class MemoryDomainBox : public DomainBox {
public:
    explicit MemoryDomainBox(std::string_view text) : text_(text) {}
    Text readText() override {
        std::lock_guard lock(mutex_);
        return text_;
    }
    void setText(std::string_view text) {
        std::lock_guard lock(mutex_);
        text_.assign(text);
    }

private:
    std::mutex mutex_;
    Text text_;
};

// The window's TCP client for a server that cannot be reached: every connect fails. Counts
// the calls, for steps that must not touch the client at all.
class UnreachableWhoisConnection : public WhoisConnection {
public:
    WhoisConnectionToken connect(std::string_view, int) override {
        ++calls_;
        return WhoisConnectionToken();
    }
    bool send(WhoisConnectionToken, std::string_view) override {
        ++calls_;
        return false;
    }
    int calls() const { return calls_; }

private:
    std::atomic<int> calls_{0};
};

// Records every message box instead of showing it.
class RecordingMessageBoxes : public MessageBoxes {
public:
    void showMessage(std::string_view caption, std::string_view text) override {
        std::lock_guard lock(mutex_);
        shown_.emplace_back(Text(caption), Text(text));
    }
    std::vector<std::pair<Text, Text>> shown() {
        std::lock_guard lock(mutex_);
        return shown_;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<Text, Text>> shown_;
};

}  // namespace tessaly::testing
