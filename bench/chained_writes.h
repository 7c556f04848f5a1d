// The program's way of keeping a cutter busy: one write outstanding at a
// time, each started from the previous one's callback.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

#include <boost/asio/io_service.hpp>

#include "usb/usb_device.h"

// Sends `writes` chunks of `chunkSize` bytes through UsbDevice::AsyncWrite on
// an open device and closes it; returns the seconds the writes took.
inline double ChainWrites(boost::asio::io_service& service, QUILL::UsbDevice& device, int writes,
                          std::uint32_t chunkSize) {
    std::vector<unsigned char> chunk(chunkSize, 0x5A);
    int left = writes;
    std::function<void(bool)> next = [&](bool ok) {
        if (!ok) throw std::runtime_error("write failed");
        if (--left > 0) device.AsyncWrite(chunk.data(), chunkSize, next);
    };
    const auto start = std::chrono::steady_clock::now();
    device.AsyncWrite(chunk.data(), chunkSize, next);
    service.run();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    device.Close();
    return elapsed.count();
}
