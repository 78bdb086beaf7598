// The module's temperature sensor: its register map over an I2C accessor of
// the controller's own. The map is registered nowhere: only the controller
// reaches it.
#pragma once

#include "registers/generated/tmp101RegMap.h"
#include "storage/vexusI2CDevice.h"

namespace qvrm7_driver {

class TemperatureMeasurementController {
 public:
  // The sensor's 8-bit address on the module's I2C bus.
  static constexpr u8 kSensorBusAddress = 0x90;

  TemperatureMeasurementController();
  TemperatureMeasurementController(TemperatureMeasurementController const&) = delete;
  TemperatureMeasurementController& operator=(TemperatureMeasurementController const&) = delete;

  atut::tTMP101RegMap& sensor() { return sensor_; }

 private:
  vexustools::VexusI2CDevice device_;
  atut::I2CDeviceAccessor accessor_;
  atut::tTMP101RegMap sensor_;
};

}  // namespace qvrm7_driver
