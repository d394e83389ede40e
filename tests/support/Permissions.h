#pragma once

#include <cstring>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// Tests of read-only files and folders need the permission checks that root passes by privilege.
// While an object of this class lives, the calling thread runs without the privilege of overriding
// file permissions (its effective capability only; it is restored at the end of the scope).
// Active() is false when the checks cannot be made to apply; such a test should skip.
class ScopedPermissionChecks {
public:
    ScopedPermissionChecks()
    {
        if (::geteuid() != 0) {
            active_ = true;
            return;
        }
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct lowered[2];
        std::memcpy(lowered, saved_, sizeof saved_);
        for (const int capability : { CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH })
            lowered[capability / 32].effective &= ~(1u << (capability % 32));
        lowered_ = ::syscall(SYS_capset, &header_, lowered) == 0;
        active_ = lowered_;
    }
    ~ScopedPermissionChecks()
    {
        if (lowered_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    ScopedPermissionChecks(const ScopedPermissionChecks&) = delete;
    ScopedPermissionChecks& operator=(const ScopedPermissionChecks&) = delete;

    bool Active() const { return active_; }

private:
    __user_cap_header_struct header_ { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct saved_[2] {};
    bool lowered_ = false;
    bool active_ = false;
};
