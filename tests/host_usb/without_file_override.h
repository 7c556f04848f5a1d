// Root opens any device node; a user without the udev rule cannot. While an
// object of this class lives, the calling thread (capabilities belong to
// threads) is held to the nodes' mode bits like that user.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

class WithoutFileOverride {
  public:
    WithoutFileOverride() {
        syscall(SYS_capget, &header, caps);
        __user_cap_data_struct held[2] = {caps[0], caps[1]};
        held[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        syscall(SYS_capset, &header, held);
    }
    // Also when a failed assertion leaves the test early.
    ~WithoutFileOverride() { syscall(SYS_capset, &header, caps); }
    WithoutFileOverride(const WithoutFileOverride&) = delete;
    WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

  private:
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
};
