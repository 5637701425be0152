#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace sonitor {

// Base of every object handed out through a Ref<T>. The count is atomic
// because playback and preview chains are shared between threads.
class RefCounted {
public:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    void AddRef() const noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
    void Release() const noexcept {
        if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }
    int32_t RefCount() const noexcept { return count_.load(std::memory_order_relaxed); }

protected:
    virtual ~RefCounted() = default;

private:
    mutable std::atomic<int32_t> count_{0};
};

// Intrusive reference-counted handle. Copying adds a reference, dropping or
// overwriting releases one; the object destroys itself at zero.
template <class T>
class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    explicit Ref(T* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    Ref(const Ref& o) noexcept : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U>
    Ref(const Ref<U>& o) noexcept : p_(o.Get()) {
        if (p_) p_->AddRef();
    }
    template <class U>
    Ref(Ref<U>&& o) noexcept : p_(o.Detach()) {}
    ~Ref() {
        if (p_) p_->Release();
    }

    Ref& operator=(Ref o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void Reset() noexcept { Ref().Swap(*this); }
    void Swap(Ref& o) noexcept { std::swap(p_, o.p_); }

    // Gives up ownership without releasing; used by converting moves.
    T* Detach() noexcept { return std::exchange(p_, nullptr); }

    friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }

private:
    T* p_ = nullptr;
};

// The one place objects of reference-counted types are created.
template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
    return Ref<T>(new T(std::forward<Args>(args)...));
}

}  // namespace sonitor
