// Runs an io_service on a thread of its own, as the transfer worker does.
#pragma once

#include <memory>
#include <thread>

#include <boost/asio/io_service.hpp>

class IoThread {
  public:
    explicit IoThread(boost::asio::io_service& service)
        : work(new boost::asio::io_service::work(service)), thread([&service] { service.run(); }) {}
    ~IoThread() { Stop(); }

    // Lets run() return once nothing is outstanding, and waits for it.
    void Stop() {
        work.reset();
        if (thread.joinable()) thread.join();
    }
    std::thread::id Id() const { return thread.get_id(); }

  private:
    std::unique_ptr<boost::asio::io_service::work> work;
    std::thread thread;
};
