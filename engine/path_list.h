#pragma once
// A list of paths held in one block of text. A million paths cost their bytes
// and one offset each; as separate strings each path would cost a string
// object and an allocation besides, about twice as much for paths of a few
// dozen bytes.
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace tessarine {

class PathList {
public:
    PathList() = default;
    // Copies of the paths of a list of strings, for callers with a few.
    PathList(const std::vector<std::string>& paths) {  // NOLINT(google-explicit-constructor)
        for (const auto& path : paths) push_back(path);
    }
    PathList(std::initializer_list<std::string_view> paths) {
        for (const auto path : paths) push_back(path);
    }

    size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    // The path at `index`; the view lasts until the list is changed.
    std::string_view operator[](size_t index) const {
        const size_t start = index == 0 ? 0 : ends_[index - 1];
        return std::string_view(text_.data() + start, ends_[index] - start);
    }

    void push_back(std::string_view path) { Append(path, {}); }
    // Adds the path made of `folder` and `name` put together.
    void Append(std::string_view folder, std::string_view name) {
        text_.append(folder).append(name);
        ends_.push_back(text_.size());
    }
    // Room for `count` paths of `bytes` bytes in all.
    void reserve(size_t count, size_t bytes) {
        ends_.reserve(count);
        text_.reserve(bytes);
    }
    void clear() {
        text_.clear();
        ends_.clear();
    }

    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;

        const_iterator() = default;
        const_iterator(const PathList* list, size_t index) : list_(list), index_(index) {}
        std::string_view operator*() const { return (*list_)[index_]; }
        std::string_view operator[](difference_type n) const { return (*list_)[index_ + n]; }
        const_iterator& operator++() { return ++index_, *this; }
        const_iterator operator++(int) { return {list_, index_++}; }
        const_iterator& operator--() { return --index_, *this; }
        const_iterator operator--(int) { return {list_, index_--}; }
        const_iterator& operator+=(difference_type n) { return index_ += n, *this; }
        const_iterator& operator-=(difference_type n) { return index_ -= n, *this; }
        friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
        friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
        friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
            return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.index_ == b.index_; }
        friend auto operator<=>(const const_iterator& a, const const_iterator& b) { return a.index_ <=> b.index_; }

    private:
        const PathList* list_ = nullptr;
        size_t index_ = 0;
    };
    using iterator = const_iterator;
    using value_type = std::string_view;

    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

    friend bool operator==(const PathList& a, const PathList& b) { return a.ends_ == b.ends_ && a.text_ == b.text_; }

private:
    std::string text_;          // every path, one after the other
    std::vector<size_t> ends_;  // where each path ends in text_
};

}  // namespace tessarine
