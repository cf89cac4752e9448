// Move-only owners of HDF5 identifiers, a guard that silences HDF5's
// automatic error printing for a scope, and a holder that closes a set of
// handles with that printing off.
#pragma once
#include <hdf5.h>

#include <optional>
#include <utility>

template <herr_t (*Close)(hid_t)> struct h5_handle {
    hid_t id = -1;

    h5_handle() noexcept = default;
    explicit h5_handle(hid_t v) noexcept : id(v) {}
    h5_handle(const h5_handle &) = delete;
    h5_handle &operator=(const h5_handle &) = delete;
    h5_handle(h5_handle &&o) noexcept : id(std::exchange(o.id, -1)) {}
    h5_handle &operator=(h5_handle &&o) noexcept
    {
        if (this != &o) {
            reset();
            id = std::exchange(o.id, -1);
        }
        return *this;
    }
    ~h5_handle() noexcept { reset(); }

    // Closes the identifier held, if any, and takes v instead.
    void reset(hid_t v = -1) noexcept
    {
        if (id >= 0)
            (void)Close(id);
        id = v;
    }
    // Closes the identifier held, if any, and says whether that worked; the
    // handle is empty afterwards. For the closes whose failure is reported.
    [[nodiscard]] herr_t close() noexcept { return id < 0 ? 0 : Close(std::exchange(id, -1)); }
    // Gives up ownership without closing.
    [[nodiscard]] hid_t release() noexcept { return std::exchange(id, -1); }
    [[nodiscard]] bool valid() const noexcept { return id >= 0; }
    operator hid_t() const noexcept { return id; }
};

using h5_file = h5_handle<H5Fclose>;
using h5_group = h5_handle<H5Gclose>;
using h5_dataset = h5_handle<H5Dclose>;
using h5_dataspace = h5_handle<H5Sclose>;
using h5_datatype = h5_handle<H5Tclose>;
using h5_attribute = h5_handle<H5Aclose>;
using h5_plist = h5_handle<H5Pclose>;
using h5_object = h5_handle<H5Oclose>;

// Switches HDF5's automatic error printing off on the default stack and puts
// back whatever handler was installed (version-2 or version-1 form) when the
// scope ends.
class h5_errors_off {
public:
    h5_errors_off() noexcept
    {
        unsigned is_v2 = 1;
        if (H5Eauto_is_v2(H5E_DEFAULT, &is_v2) < 0)
            is_v2 = 1;
        v2_ = is_v2 != 0;
        if (v2_) {
            if (H5Eget_auto2(H5E_DEFAULT, &func2_, &data_) >= 0)
                saved_ = true;
            H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
        } else {
            if (H5Eget_auto1(&func1_, &data_) >= 0)
                saved_ = true;
            H5Eset_auto1(nullptr, nullptr);
        }
    }
    h5_errors_off(const h5_errors_off &) = delete;
    h5_errors_off &operator=(const h5_errors_off &) = delete;
    ~h5_errors_off() noexcept
    {
        if (!saved_)
            return;
        if (v2_)
            H5Eset_auto2(H5E_DEFAULT, func2_, data_);
        else
            H5Eset_auto1(func1_, data_);
    }

private:
    bool v2_ = true;
    bool saved_ = false;
    H5E_auto2_t func2_ = nullptr;
    H5E_auto1_t func1_ = nullptr;
    void *data_ = nullptr;
};

// Holds a set of handles (any struct of h5_handle members and other owners)
// and, when it goes, closes them all with HDF5's automatic error printing
// off: closing what a failed comparison left open must not add the library's
// own trace to the output.
template <typename Handles> class h5_closed_quietly {
public:
    h5_closed_quietly() : held_(std::in_place) {}
    // Holds what Handles makes of args (an identifier, say).
    template <typename... Args>
    explicit h5_closed_quietly(Args &&...args) : held_(std::in_place, std::forward<Args>(args)...)
    {
    }
    h5_closed_quietly(const h5_closed_quietly &) = delete;
    h5_closed_quietly &operator=(const h5_closed_quietly &) = delete;
    ~h5_closed_quietly() noexcept
    {
        h5_errors_off quiet;
        held_.reset();
    }
    Handles &operator*() noexcept { return *held_; }
    Handles *operator->() noexcept { return &*held_; }

private:
    std::optional<Handles> held_;
};
