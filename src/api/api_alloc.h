// A failed allocation inside a library call becomes its status: nothing
// throws into a C caller.
#pragma once

#include <new>
#include <type_traits>

#include "api/api_streams.h"

// f's result, or out of memory (as a Status or a vorb_status, whichever f
// returns) when an allocation inside it failed.
template <class F>
auto or_out_of_memory(F&& f) noexcept -> decltype(f()) {
    using Result = decltype(f());
    static_assert(std::is_same_v<Result, Status> || std::is_same_v<Result, vorb_status>);
    try {
        return f();
    } catch (const std::bad_alloc&) {
        if constexpr (std::is_same_v<Result, Status>)
            return Status::out_of_memory;
        else
            return VORB_ERR_MEMORY;
    }
}

// A new T set up by init(T&), which returns a Status: the object, or null
// with *err (when given) saying why. T's own constructor may allocate too.
template <class T, class Init>
T* create_or_fail(vorb_status* err, Init&& init) {
    T* t = nullptr;
    const Status st = or_out_of_memory([&] {
        t = new T;
        return init(*t);
    });
    if (st == Status::ok) return t;
    delete t;
    set_error(err, to_api(st));
    return nullptr;
}
