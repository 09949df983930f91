// Random host bytes into a virtual modem of each class, with a remote fax
// machine and a second modem on the line to call. Byte 0xFF followed by n lets
// n x 50 ms of virtual time pass, so calls, carriers and timers all get reached.
// Nothing may crash, hang or grow without bound.
#include <cstddef>
#include <cstdint>
#include <string>

#include "modemsim/modem.h"
#include "modemsim/remote_fax.h"

using namespace veltrane::modemsim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kClasses[] = {"0", "1", "2", "2.0"};
  Scheduler sched;
  TelephoneLine line(sched);
  Modem modem(line, "5551000");
  Modem other(line, "5551001");
  RemoteFaxOptions ro;
  ro.receiveInMemory = true;
  RemoteFax remote(line, "5552000", ro);
  std::size_t said = 0;
  modem.setOutput([&said](const std::uint8_t*, std::size_t n) { said += n; });
  other.setOutput([](const std::uint8_t*, std::size_t) {});
  other.hostWrite("ATS0=1\r");
  std::string select = std::string("AT+FCLASS=") + kClasses[data[0] % 4] + "\r";
  modem.hostWrite(select);
  other.hostWrite(select);

  Micros budget = 20 * 60 * kSecond;  // virtual time the input may spend
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == 0xFF && i + 1 < size) {
      Micros step = data[++i] * 50 * kMs;
      if (step > budget) break;
      budget -= step;
      sched.runUntil(sched.now() + step);
      continue;
    }
    modem.hostWrite(&data[i], 1);
  }
  // Let every call, carrier and timer run out; the simulation must come to rest.
  sched.runUntil(sched.now() + 10 * 60 * kSecond);
  return said > (std::size_t(1) << 40) ? 1 : 0;
}
