// Prepared strings: one UTF-8 buffer with offsets and per-string facts the kernels reuse.
//
// Built once (by the binding, from a Python iterable after the processor ran) and then
// only read, by any number of threads. A missing entry (None or NaN on the Python side)
// has an empty view and the missing flag; it is never scored.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/common/text.hpp"
#include "core/match/sketch.hpp"
#include "engine/cancel.hpp"
#include "engine/parallel.hpp"

namespace tarnvel::core::match {

class TextStore {
public:
    static constexpr std::uint8_t kMissing = 1;
    static constexpr std::uint8_t kAscii = 2;

    // Empties the store for reuse, keeping the capacity (and the touched pages) of its
    // arrays, so a store recycled for the next call's list costs no page faults.
    void clear() {
        buf_.clear();
        offsets_.clear();
        flags_.clear();
        lens_.clear();
        texts_.clear();
        missing_ = 0;
        sketches_.reset();
        words_.reset();
        sketches_ready_.store(nullptr, std::memory_order_relaxed);
        uses_.store(0, std::memory_order_relaxed);
        forms_.reset();
        forms_ready_.store(nullptr, std::memory_order_relaxed);
        form_uses_.store(0, std::memory_order_relaxed);
    }
    // Bytes held by the arrays, used or not.
    std::size_t capacity_bytes() const {
        return buf_.capacity() + offsets_.capacity() * sizeof(std::uint64_t) + flags_.capacity() +
               lens_.capacity() * sizeof(std::uint64_t) + texts_.capacity() * sizeof(Text);
    }
    // The view array, for a builder that stages views in it before the adds (seal()
    // replaces every entry).
    std::vector<Text>& staging() { return texts_; }

    void reserve(std::size_t strings, std::size_t bytes) {
        offsets_.reserve(strings + 1);
        flags_.reserve(strings);
        lens_.reserve(strings);
        buf_.reserve(bytes);
    }
    // Bulk building, for a builder that fills entries by index from many threads: sizes
    // the per-entry arrays for n entries (the staged views are kept). The builder writes
    // each entry's flags and length in code points, and its byte size into offsets[i + 1];
    // bulk_sizes_done() turns the sizes into offsets and sizes the buffer, which the
    // builder then fills before seal().
    void bulk_begin(std::size_t n) {
        offsets_.assign(n + 1, 0);
        flags_.assign(n, 0);
        lens_.assign(n, 0);
        buf_.clear();
    }
    std::uint64_t* bulk_offsets() { return offsets_.data(); }
    std::uint8_t* bulk_flags() { return flags_.data(); }
    std::uint64_t* bulk_lens() { return lens_.data(); }
    char* bulk_sizes_done() {
        for (std::size_t i = 1; i < offsets_.size(); ++i) offsets_[i] += offsets_[i - 1];
        buf_.resize(offsets_.back());
        return buf_.data();
    }

    void add(const char* data, std::size_t size) {
        if (offsets_.empty()) offsets_.push_back(0);
        buf_.append(data, size);
        offsets_.push_back(buf_.size());
        const bool ascii = is_ascii(data, size);
        flags_.push_back(ascii ? kAscii : 0);
        lens_.push_back(ascii ? size : count_code_points(data, size));
    }
    void add_missing() {
        if (offsets_.empty()) offsets_.push_back(0);
        offsets_.push_back(buf_.size());
        flags_.push_back(kMissing);
        lens_.push_back(0);
    }
    // Makes the views; call once after the last add() (the buffer never moves after).
    void seal() {
        if (offsets_.empty()) offsets_.push_back(0);
        texts_.resize(flags_.size());
        for (std::size_t i = 0; i < texts_.size(); ++i)
            texts_[i] = Text(buf_.data() + offsets_[i], offsets_[i + 1] - offsets_[i]);
        missing_ = 0;
        for (std::uint8_t f : flags_) missing_ += (f & kMissing) != 0;
    }

    std::size_t size() const { return flags_.size(); }
    bool empty_store() const { return flags_.empty(); }
    const Text* texts() const { return texts_.data(); }
    Text text(std::size_t i) const { return texts_[i]; }
    bool missing(std::size_t i) const { return (flags_[i] & kMissing) != 0; }
    std::size_t missing_count() const { return missing_; }
    std::size_t length(std::size_t i) const { return lens_[i]; }  // code points
    const std::string& buffer() const { return buf_; }
    const std::vector<std::uint64_t>& offsets() const { return offsets_; }
    const std::vector<std::uint8_t>& flags() const { return flags_; }

    // The symbol-count sketch of every entry (sketch.hpp; zero for a missing one), built
    // by the first caller that needs them and kept with the store, so that a prepared
    // set of choices pays for them once.
    const Sketch* sketches() const {
        if (const Sketch* ready = sketches_ready_.load(std::memory_order_acquire)) return ready;
        const std::lock_guard<std::mutex> lock(*sketch_mu_);
        if (!sketches_) {
            const std::size_t n = texts_.size();
            // Not zeroed here: the workers write every entry (and fault its pages in).
            std::unique_ptr<Sketch[]> made(new Sketch[n]);
            std::unique_ptr<std::uint8_t[]> words(new std::uint8_t[n]);
            // On the pool: the first search over freshly packed choices waits for them.
            constexpr std::size_t kBlock = 4096;
            engine::parallel_for((n + kBlock - 1) / kBlock, [&](std::size_t b, std::size_t e) {
                for (std::size_t blk = b; blk < e; ++blk) {
                    engine::interruption_point();
                    for (std::size_t i = blk * kBlock; i < std::min(n, (blk + 1) * kBlock); ++i) {
                        bool one = false;
                        if (flags_[i] & kAscii)
                            sketch_into_ascii(texts_[i], made[i], &one);
                        else if (!missing(i))
                            sketch_into(texts_[i], made[i], &one);
                        else
                            made[i] = Sketch{};
                        words[i] = one;
                    }
                }
            });
            words_ = std::move(words);
            sketches_ = std::move(made);
            sketches_ready_.store(sketches_.get(), std::memory_order_release);
        }
        return sketches_.get();
    }
    // False on the first call, true on every later one: whether the store serves more
    // than one search (sketches pay for themselves only then, for cheap scorers).
    bool reused() const {
        return uses_.fetch_add(1, std::memory_order_relaxed) > 0 ||
               sketches_ready_.load(std::memory_order_acquire);
    }
    // 1 where an entry is a single word (sketch.hpp), built with the sketches.
    const std::uint8_t* one_words() const {
        (void)sketches();
        return words_.get();
    }

    // Another store holding every entry's sorted-token form (token.hpp) at the same index,
    // missing where this one is, which make(out) fills. Built by the first caller from a
    // store's second sorted-token search on (nullptr before: one search alone is cheaper
    // than making every form) and kept with the store, so a prepared set of choices pays
    // for the forms once.
    template <typename Make>
    const TextStore* sorted_forms(Make&& make) const {
        if (const TextStore* ready = forms_ready_.load(std::memory_order_acquire)) return ready;
        if (form_uses_.fetch_add(1, std::memory_order_relaxed) == 0) return nullptr;
        const std::lock_guard<std::mutex> lock(*forms_mu_);
        if (!forms_) {
            auto made = std::make_unique<TextStore>();
            make(*made);
            forms_ = std::move(made);
            forms_ready_.store(forms_.get(), std::memory_order_release);
        }
        return forms_.get();
    }

private:
    std::string buf_;
    std::vector<std::uint64_t> offsets_;
    std::vector<std::uint8_t> flags_;
    std::vector<std::uint64_t> lens_;
    std::vector<Text> texts_;
    std::size_t missing_ = 0;
    std::unique_ptr<std::mutex> sketch_mu_ = std::make_unique<std::mutex>();
    mutable std::unique_ptr<Sketch[]> sketches_;
    mutable std::unique_ptr<std::uint8_t[]> words_;
    mutable std::atomic<std::uint64_t> uses_{0};
    mutable std::atomic<const Sketch*> sketches_ready_{nullptr};
    std::unique_ptr<std::mutex> forms_mu_ = std::make_unique<std::mutex>();
    mutable std::unique_ptr<TextStore> forms_;
    mutable std::atomic<std::uint64_t> form_uses_{0};
    mutable std::atomic<const TextStore*> forms_ready_{nullptr};
};

}  // namespace tarnvel::core::match
