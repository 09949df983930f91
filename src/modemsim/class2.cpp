#include "modemsim/class2.h"

#include "modemsim/modem.h"

namespace veltrane::modemsim {

Class2Session::Class2Session(Modem& modem, bool class20)
    : modem_(modem), class20_(class20), reverseRx_(!class20) {
  localId_ = modem.options_.stationId;
}
Class2Session::~Class2Session() = default;
bool Class2Session::command(const std::string&, const std::string&, bool&) { return true; }
void Class2Session::hostByte(std::uint8_t) {}
std::size_t Class2Session::hostRoom() const { return 4096; }
void Class2Session::onDial() {}
void Class2Session::onConnected(bool) {}
void Class2Session::onLineSignal(const LineSignal&) {}
void Class2Session::onFarEndHangup() {}
void Class2Session::onHangup() {}

}  // namespace veltrane::modemsim
