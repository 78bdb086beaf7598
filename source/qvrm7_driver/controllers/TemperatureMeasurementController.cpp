#include "source/qvrm7_driver/controllers/TemperatureMeasurementController.h"

namespace qvrm7_driver {

TemperatureMeasurementController::TemperatureMeasurementController()
    : device_(kSensorBusAddress), accessor_(device_), sensor_(&accessor_, 0, 0, 0xFFFFFFFFu) {}

}  // namespace qvrm7_driver
