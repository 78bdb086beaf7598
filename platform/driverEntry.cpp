#include "platform/driverEntry.h"

#include "platform/runtime.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

nQVZOR200_tDriverRecord* gDriverRecord = nullptr;

char gVersionName[] = "name=qvrm7_driver";
char gVersionDescription[] = "description=relay switch module driver core";
char gVersionText[] = "version=1.0.0d1";
char gVersionMajor[] = "versionMajor=1";
char gVersionMinor[] = "versionMinor=0";
char gVersionUpdate[] = "versionUpdate=0";
char gVersionDate[] = "buildDate=" __DATE__;
char gVersionConfiguration[] = "configuration=release";

// Nine pointers: eight key=value texts and the null that ends the table.
// Writable, as the layer may rewrite entries.
char* gVersionRecord[] = {
    gVersionName,   gVersionDescription, gVersionText,          gVersionMajor, gVersionMinor,
    gVersionUpdate, gVersionDate,        gVersionConfiguration, nullptr,
};

}  // namespace

nQVZOR200_tDriverRecord* registeredDriverRecord() { return gDriverRecord; }

char const* const* getVersionRecord() { return gVersionRecord; }

void driverInitHook(tStatus&) {}
void driverDeinitHook() {}

void driverUnload(nQVZOR200_tDriverRecord* record) {
  nQVZOR200_unregisterDriver(record);
  gDriverRecord = nullptr;
  driverDeinitHook();
  runtimeDeinit();
}

}  // namespace qvrm7_driver::nQVWEND000

using namespace qvrm7_driver::nQVWEND000;

extern "C" __attribute__((visibility("default"))) int32_t nQVWEND200_driverEntry(
    nQVZOR200_tDriverRecord* record) {
  tStatus status;
  runtimeInit();
  driverInitHook(status);
  if (status.code != 0) {
    int32_t const result = toKernelLayerStatus(status.code);
    runtimeDeinit();
    return result;
  }

  gDriverRecord = record;
  record->driverName = kDriverName;
  record->open = driverOpen;
  record->close = driverClose;
  record->transferA = driverTransferA;
  record->transferB = driverTransferB;
  record->ioctl = driverIoctl;
  record->unload = driverUnload;
  record->addDevice = driverAddDevice;
  record->removeDevice = driverRemoveDevice;
  record->mmap = driverMmap;
  record->unmap = driverUnmap;
  record->destroyDevice = driverDestroyDevice;

  int32_t const result = nQVZOR200_registerDriver(record);
  if (result >= 0) return result;
  // The layer may free a record it refused; keep no pointer to it.
  gDriverRecord = nullptr;
  driverDeinitHook();
  runtimeDeinit();
  return result;
}
