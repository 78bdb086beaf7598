// Register requests on many threads: on one map, on the maps whose records
// another map's accesses use, beside the command FIFO controller, and on two
// devices; under ThreadSanitizer every record is reached under one lock only.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "host/registerClient.h"
#include "source/qvrm7_driver/RM7Device.h"
#include "source/qvrm7_driver/controllers/CommandFIFOController.h"
#include "source/qvrm7_driver/startup/RM7Helper.h"
#include "support/switchDeviceScenario.h"

namespace {

constexpr char kBase[] = "RM7BaseRegMap_Ver22.8.0f141";
constexpr char kIsolation[] = "IsolationPortRegMap_Ver22.8.0f108";
constexpr char kSwitchedPort[] = "SwitchedVexusBimRegMap_Ver22.8.0f108";
constexpr char kSourceStreams[] = "HalcyonTmr9SourceStreams_Ver22.8.0f141";
constexpr int kRounds = 200;

TEST(RegisterRequests, ShareNoRecordUnderTwoLocksOnOneDeviceOrTwo) {
  sim::reset();
  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  ASSERT_EQ(driver.load(), 0);
  sim::Rm7Module modules[2] = {sim::Rm7Module({.bus = 3}), sim::Rm7Module({.bus = 4})};
  for (sim::Rm7Module& module : modules) ASSERT_EQ(sim::plugIn(module.device()), 0);
  auto* const device = static_cast<qvrm7_driver::RM7Device*>(
      static_cast<qvrm7_driver::nQVWEND000::tDevice*>(modules[0].device()->driverContext()));

  auto const ok = [](sim::RegisterReply const& reply) {
    EXPECT_EQ(reply, sim::RegisterReply{}) << "status " << reply.status;
  };
  struct Worker {
    int device;
    std::function<void(sim::RegisterClient&, uint32_t)> work;
  };
  std::vector<Worker> const workers = {
      // One register of one map from two threads.
      {0, [&](auto& c, uint32_t n) { ok(c.write(kBase, 0x8000000C, n, true)); }},
      {0, [&](auto& c, uint32_t) { EXPECT_EQ(c.get(kBase, 0x8000000C).status, 0); }},
      // The isolation port's accesses go through the switched port's records,
      // which the next thread reaches by that map's own name: what is written
      // to the far side must still come back.
      {0,
       [&](auto& c, uint32_t n) {
         uint32_t const value = 0x0F000000 | (n & 0xFF);
         ok(c.write(kIsolation, 0x80000004, value, true));
         EXPECT_EQ(c.read(kIsolation, 0x80000004).value & 0x0F0000FF, value);
       }},
      {0,
       [&](auto& c, uint32_t n) {
         ok(c.write(kSwitchedPort, 0x8000068C, n, true));
         EXPECT_EQ(c.read(kSwitchedPort, 0x80000688).status, 0);
       }},
      // The command FIFO controller and a caller on its map's records.
      {0,
       [&](auto&, uint32_t n) {
         qvrm7_driver::nQVWEND000::tStatus status;
         device->helper()->commandFIFO().writeFIFOWord(n, status);
         EXPECT_EQ(status.code, 0);
       }},
      {0, [&](auto& c, uint32_t n) { ok(c.write(kSourceStreams, 0x80000000, n, true)); }},
      // The same map names on another device.
      {1, [&](auto& c, uint32_t n) { ok(c.write(kBase, 0x8000000C, n, true)); }},
      {1, [&](auto& c, uint32_t n) { ok(c.write(kIsolation, 0x80000004, n, true)); }},
  };
  std::vector<sim::UserFile> files(workers.size());
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (size_t i = 0; i < workers.size(); ++i) {
    sim::PciDevice const& on = *modules[workers[i].device].device();
    ASSERT_EQ(files[i].open("qvrm7_driver_qvrm7", on.kernelParent()), 0);
    threads.emplace_back([&, i] {
      sim::RegisterClient client(files[i]);
      ready.fetch_add(1);
      while (ready.load() < static_cast<int>(workers.size())) std::this_thread::yield();
      for (uint32_t n = 0; n < kRounds; ++n) workers[i].work(client, n);
    });
  }
  for (std::thread& t : threads) t.join();
  for (sim::UserFile& file : files) file.close();
  for (sim::Rm7Module& module : modules) sim::unplug(*module.device());
}

}  // namespace
