#include "text/extract.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

#include "text/scan.h"

namespace tessaly {

namespace {

// Calls onPiece(piece) for each piece in order until it returns false.
template <class OnPiece>
void forEachPiece(std::string_view text, std::string_view startMarker, std::string_view endMarker,
                  OnPiece onPiece) {
    if (startMarker.empty() || endMarker.empty()) {
        return;
    }
    // When the start marker is made of whole characters, every search runs on the
    // character grid of the whole text, so the end marker found for one start marker is
    // also the first one for every later start marker before it. That keeps many start
    // markers and few end markers from costing a scan to the end each.
    const bool onGrid = scan::endsOnCharacterBoundary(startMarker);
    bool haveEnd = false;
    std::size_t end = scan::none;
    std::size_t pos = 0;
    for (;;) {
        std::size_t s = scan::find(text, startMarker, pos, true);
        if (s == scan::none) {
            return;
        }
        // The next start marker is searched from right after this one, so pieces may
        // contain further start markers and overlap.
        pos = s + startMarker.size();
        if (!(onGrid && haveEnd && (end == scan::none || end >= pos))) {
            end = scan::find(text, endMarker, pos, true);
            haveEnd = true;
        }
        if (end != scan::none) {
            if (!onPiece(text.substr(pos, end - pos))) {
                return;
            }
        } else if (onGrid) {
            return;  // no end marker after this point: no later start marker has a piece
        }
    }
}

}  // namespace

// Kept on purpose: the next start marker is searched from right after the current one, not
// after its end marker, so pieces may overlap and a piece may hold further start markers.
Text extractBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker,
                    TextList& pieces) {
    TextList found;
    forEachPiece(text, startMarker, endMarker, [&](std::string_view piece) {
        found.emplace_back(piece);
        return true;
    });
    pieces = std::move(found);
    return pieces.empty() ? Text(unknownText) : pieces.front();
}

Text extractFirstBetween(std::string_view text, std::string_view startMarker,
                         std::string_view endMarker) {
    Text first(unknownText);
    forEachPiece(text, startMarker, endMarker, [&](std::string_view piece) {
        first.assign(piece);
        return false;
    });
    return first;
}

namespace {

// Polynomial hashes modulo 2^64 with an odd base, so the base has an inverse. They only
// pick candidates: every match is confirmed byte by byte before anything is deleted, so a
// collision costs time, never a wrong result.
constexpr std::uint64_t base = 0x9E3779B97F4A7C15ull;

constexpr std::uint64_t inverseOf(std::uint64_t b) {
    std::uint64_t x = b;  // Newton's iteration doubles the correct low bits each step
    for (int i = 0; i < 6; ++i) {
        x *= 2 - b * x;
    }
    return x;
}
constexpr std::uint64_t inverseBase = inverseOf(base);
static_assert(base * inverseBase == 1);

std::uint64_t power(std::uint64_t b, std::uint64_t e) {
    std::uint64_t r = 1;
    while (e > 0) {
        if (e & 1) {
            r *= b;
        }
        b *= b;
        e >>= 1;
    }
    return r;
}

struct Hashed {
    std::uint64_t hash = 0;
    std::size_t length = 0;
    bool operator==(const Hashed&) const = default;
};
struct HashedKey {
    std::size_t operator()(const Hashed& h) const {
        return static_cast<std::size_t>(h.hash ^ (h.length * 0xC2B2AE3D27D4EB4Full));
    }
};

// stripTags without a pass over the whole text per piece.
//
// Deleting "<" + piece + ">" one piece after another only ever removes whole stretches
// that run from a "<" to the first ">" after it, so the bytes that remain keep their
// character boundaries and the only thing a deletion changes is what follows the "<"s
// left open before it. At any moment the one tag that can match at a "<" is its current
// tag: the remaining bytes from it to the next remaining ">". A pass for a piece therefore
// deletes exactly the "<"s whose current tag equals the piece's tag, all at once (two such
// matches never overlap, and the pass never looks at text its own deletions join). The
// current tags are kept as hashes in buckets, and after each deletion only the open "<"s
// before it get new tags.
class TagStripper {
public:
    explicit TagStripper(std::string_view text) : text_(text) { tokenize(); }

    Text run() {
        if (tagsAreFlat()) {
            return withFlatTagsRemoved();
        }
        link();
        std::size_t pieces = 0;
        for (const Token& t : tokens_) {
            pieces += t.open && t.originalEnd != noToken;
        }
        // Some inputs (a long run of "<" before tags that keep being deleted) give every
        // open "<" a new tag at each deletion. Once that work outgrows a small share of
        // what the literal deletions would cost, the rest is done literally.
        budget_ = 4 * text_.size() + pieces * (text_.size() / 512);
        for (std::size_t i = 0; i < tokens_.size(); ++i) {
            if (tokens_[i].open && tokens_[i].originalEnd != noToken) {
                pass(i);
                if (!tracking_ || work_ > budget_) {
                    return finishLiterally(i + 1);
                }
            }
        }
        return remainingText();
    }

private:
    static constexpr std::size_t noToken = static_cast<std::size_t>(-1);

    struct Token {
        std::size_t pos = 0;
        bool open = false;  // "<" (true) or ">" (false)
        bool alive = true;
        std::size_t prev = noToken, next = noToken;  // remaining tokens, in text order
        // "<": the current tag; ">": the remaining bytes since the previous ">".
        Hashed current;
        bool hasTag = false;
        Hashed original;                    // "<": its tag in the text as given
        std::size_t originalEnd = noToken;  // "<": the ">" that ends that tag
        std::size_t jumpTo = noToken;       // "<" deleted first in a stretch: its ">"
        std::size_t prevClose = noToken, nextClose = noToken;  // ">": neighbouring ">"s
        std::uint64_t seenInPass = 0;
    };

    void tokenize() {
        for (std::size_t i = 0; i < text_.size();) {
            auto c = static_cast<unsigned char>(text_[i]);
            if (c == '<' || c == '>') {
                Token token;
                token.pos = i;
                token.open = c == '<';
                tokens_.push_back(token);
            }
            i += scan::isLeadByte(c) ? 2 : 1;
        }
    }

    // True when no "<" has another "<" between it and its ">": then no deletion can make a
    // new tag, and the result is simply every "<"…">" stretch removed.
    bool tagsAreFlat() const {
        for (std::size_t i = 0; i + 1 < tokens_.size(); ++i) {
            if (tokens_[i].open && tokens_[i + 1].open) {
                for (std::size_t j = i + 1; j < tokens_.size(); ++j) {
                    if (!tokens_[j].open) {
                        return false;  // i's tag holds the "<" at i + 1
                    }
                }
                return true;  // only "<"s without a ">" follow: they have no tag
            }
        }
        return true;
    }

    Text withFlatTagsRemoved() const {
        Text out;
        out.reserve(text_.size());
        std::size_t pos = 0;
        for (std::size_t i = 0; i + 1 < tokens_.size(); ++i) {
            if (tokens_[i].open && !tokens_[i + 1].open) {
                out.append(text_.substr(pos, tokens_[i].pos - pos));
                pos = tokens_[i + 1].pos + 1;
            }
        }
        out.append(text_.substr(pos));
        return out;
    }

    void link() {
        std::size_t lastClose = noToken;
        for (std::size_t i = 0; i < tokens_.size(); ++i) {
            tokens_[i].prev = i == 0 ? noToken : i - 1;
            tokens_[i].next = i + 1 < tokens_.size() ? i + 1 : noToken;
            if (!tokens_[i].open) {
                tokens_[i].prevClose = lastClose;
                if (lastClose != noToken) {
                    tokens_[lastClose].nextClose = i;
                }
                hashGroup(lastClose, i);
                lastClose = i;
            }
        }
    }

    // Hashes the bytes after the ">" prevClose up to the ">" close, backwards, giving each
    // "<" among them its tag.
    void hashGroup(std::size_t prevClose, std::size_t close) {
        std::size_t first = prevClose == noToken ? 0 : tokens_[prevClose].pos + 1;
        std::size_t t = close;
        Hashed h;
        std::uint64_t power = 1;
        for (std::size_t p = tokens_[close].pos + 1; p-- > first;) {
            h.hash += static_cast<unsigned char>(text_[p]) * power;
            power *= base;
            ++h.length;
            while (t != noToken && t > 0 && tokens_[t].pos > p) {
                --t;
            }
            if (tokens_[t].pos == p && tokens_[t].open) {
                tokens_[t].current = tokens_[t].original = h;
                tokens_[t].hasTag = true;
                tokens_[t].originalEnd = close;
                buckets_[h].push_back(t);
            }
        }
        tokens_[close].current = h;
    }

    void pass(std::size_t pieceToken) {
        const Token& piece = tokens_[pieceToken];
        const Hashed tag = piece.original;
        auto bucket = buckets_.find(tag);
        if (bucket == buckets_.end()) {
            return;
        }
        ++passNumber_;
        std::vector<std::size_t> candidates = std::move(bucket->second);
        bucket->second.clear();
        std::vector<std::size_t> matches;
        for (std::size_t c : candidates) {
            Token& t = tokens_[c];
            ++work_;
            if (!t.alive || !t.hasTag || !(t.current == tag) || t.seenInPass == passNumber_) {
                continue;  // stale: the token has a newer entry if it still has a tag
            }
            t.seenInPass = passNumber_;
            work_ += tag.length;
            if (remainingEquals(c, piece.pos, tag.length)) {
                matches.push_back(c);
            } else {
                bucket->second.push_back(c);  // same hash, other bytes
            }
        }
        std::sort(matches.begin(), matches.end());
        const std::uint64_t inversePower = power(inverseBase, tag.length);
        for (std::size_t m : matches) {
            deleteTag(m, tag, inversePower);
        }
    }

    void deleteTag(std::size_t open, const Hashed& tag, std::uint64_t inversePower) {
        std::size_t close = tokens_[open].next;
        while (tokens_[close].open) {
            close = tokens_[close].next;
        }
        const std::size_t nextClose = tokens_[close].nextClose;
        if (nextClose != noToken) {
            // What was before the tag, joined to what follows up to the next ">":
            // (h - tag) / B^|tag| * B^|tail| + tail.
            const Hashed tail = tokens_[nextClose].current;
            const std::uint64_t factor = inversePower * power(base, tail.length);
            auto rejoin = [&](Hashed& h) {
                h.hash = (h.hash - tag.hash) * factor + tail.hash;
                h.length = h.length - tag.length + tail.length;
            };
            // The "<"s still open before this tag now run on to the next ">".
            for (std::size_t t = tokens_[open].prev; tracking_ && t != noToken && tokens_[t].open;
                 t = tokens_[t].prev) {
                rejoin(tokens_[t].current);
                buckets_[tokens_[t].current].push_back(t);
                tracking_ = ++work_ <= budget_;
            }
            tokens_[nextClose].current = tokens_[close].current;
            rejoin(tokens_[nextClose].current);
            tokens_[nextClose].prevClose = tokens_[close].prevClose;
        } else {
            for (std::size_t t = tokens_[open].prev; t != noToken && tokens_[t].open;
                 t = tokens_[t].prev) {
                tokens_[t].hasTag = false;  // no ">" is left after them
            }
        }
        if (tokens_[close].prevClose != noToken) {
            tokens_[tokens_[close].prevClose].nextClose = nextClose;
        }
        // Unlink the deleted tokens from open to close.
        const std::size_t left = tokens_[open].prev, right = tokens_[close].next;
        for (std::size_t t = open; t != right; t = tokens_[t].next) {
            tokens_[t].alive = false;
        }
        if (left != noToken) {
            tokens_[left].next = right;
        }
        if (right != noToken) {
            tokens_[right].prev = left;
        }
        tokens_[open].jumpTo = close;
    }

    // The deletions still to do, done literally on the text as it stands now.
    Text finishLiterally(std::size_t fromToken) const {
        Text text = remainingText();
        for (std::size_t i = fromToken; i < tokens_.size(); ++i) {
            if (tokens_[i].open && tokens_[i].originalEnd != noToken) {
                text = replaceText(text, text_.substr(tokens_[i].pos, tokens_[i].original.length),
                                   std::string_view(), true);
            }
        }
        return text;
    }

    // Walks the remaining bytes from the token at, skipping deleted stretches.
    class Cursor {
    public:
        Cursor(const TagStripper& s, std::size_t token)
            : s_(s), pos_(s.tokens_[token].pos), token_(token) {}
        bool atEnd() const { return pos_ >= s_.text_.size(); }
        char byte() {
            settle();
            return s_.text_[pos_];
        }
        void advance() {
            settle();
            ++pos_;
        }
        // Moves past any deleted stretch that begins here.
        void settle() {
            while (token_ < s_.tokens_.size() && s_.tokens_[token_].pos < pos_) {
                ++token_;
            }
            while (token_ < s_.tokens_.size() && s_.tokens_[token_].pos == pos_ &&
                   !s_.tokens_[token_].alive) {
                std::size_t close = s_.tokens_[token_].jumpTo;
                pos_ = s_.tokens_[close].pos + 1;
                token_ = close + 1;
            }
        }

    private:
        const TagStripper& s_;
        std::size_t pos_;
        std::size_t token_;
    };

    bool remainingEquals(std::size_t token, std::size_t from, std::size_t length) const {
        Cursor cursor(*this, token);
        for (std::size_t i = 0; i < length; ++i) {
            cursor.settle();
            if (cursor.atEnd() || cursor.byte() != text_[from + i]) {
                return false;
            }
            cursor.advance();
        }
        return true;
    }

    Text remainingText() const {
        Text out;
        out.reserve(text_.size());
        std::size_t pos = 0;
        for (std::size_t t = 0; t < tokens_.size();) {
            if (tokens_[t].alive) {
                ++t;
                continue;
            }
            // The first deleted token of a stretch is its "<"; everything up to its ">" goes.
            out.append(text_.substr(pos, tokens_[t].pos - pos));
            std::size_t close = tokens_[t].jumpTo;
            pos = tokens_[close].pos + 1;
            t = close + 1;
        }
        out.append(text_.substr(pos));
        return out;
    }

    std::string_view text_;
    std::vector<Token> tokens_;
    std::unordered_map<Hashed, std::vector<std::size_t>, HashedKey> buckets_;
    std::uint64_t passNumber_ = 0;
    std::size_t work_ = 0;    // candidates looked at, bytes compared, tags renewed
    std::size_t budget_ = 0;  // the work allowed before the rest is done literally
    bool tracking_ = true;    // false once the tags are no longer kept up to date
};

}  // namespace

// Kept on purpose: any stretch between "<" and ">" goes, tag or not ("a < b > c" becomes
// "a  c"), and each deletion is byte-exact, so "<B>" and "<b>" go each by a piece of its own.
Text stripTags(std::string_view text) {
    return TagStripper(text).run();
}

}  // namespace tessaly
