// The fleet's MQTT topics, all under iap/v1/<site>/<station>/:
//   attempt        a record line, QoS 1, not retained        (ship -> collect)
//   status         the shipper's state, retained, last will  (ship)
//   stored         how far each record is stored, retained   (collect -> ship)
//   summary        today's tally and last results, retained  (collect -> board)
//   line           usb-iap-flash's running state, retained, last will (flash --publish)
//   port/<port>    one port's live state, retained, QoS 0    (flash --publish)
// A site or station name is one topic level: it may not be empty nor hold
// '/', '+', '#' or NUL. A port is encoded into one level (portLevel), since a
// Windows device path holds '#' and a Linux one '/'.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace iap::fleet {

inline constexpr std::string_view kTopicRoot = "iap/v1";

// True when name can be a site or station name.
bool validName(std::string_view name);

// "iap/v1/<site>/<station>/<leaf>".
std::string stationTopic(std::string_view site, std::string_view station, std::string_view leaf);

// The subscription for every station's leaf: "iap/v1/+/+/<leaf>".
std::string everyStation(std::string_view leaf);

// A port chain or device path as one topic level: '%', '/', '+', '#' and
// bytes below 0x20 percent-encoded ("%2F"); never empty ("%00" for "").
std::string portLevel(std::string_view port);

struct StationTopic {
    std::string site, station, leaf;  // leaf: "attempt", "status", ..., "port/<level>"
};
// The parts of "iap/v1/<site>/<station>/<leaf>"; none for any other shape.
std::optional<StationTopic> parseStationTopic(std::string_view topic);

}  // namespace iap::fleet
