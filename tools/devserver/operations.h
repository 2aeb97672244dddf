// The client interface: what the server answers to each "clientInterface-"
// operation, from its data and what the request carries.
#pragma once

#include <map>
#include <string>

#include "tools/devserver/data.h"
#include "tools/devserver/multipart.h"
#include "tools/devserver/reply_writer.h"

namespace devserver {

// Query parameters, percent-decoded ("+" read as a space).
using Params = std::multimap<std::string, std::string>;

// Whether `op` is one of the operations the client calls.
bool isOperation(const std::string& op);

class Operations {
 public:
  // `dataFolder` receives the uploaded screenshots; empty keeps none.
  // `refuseOffline` answers records sent later (offLine=1) with a failure.
  Operations(DevData& data, std::string dataFolder, bool refuseOffline = false)
      : data_(data), dataFolder_(std::move(dataFolder)), refuseOffline_(refuseOffline) {}

  // The reply to operation `op` (known by isOperation). `form` is the
  // uploaded form of a POST, null otherwise. `big` pads the reply to about
  // 5 MB with further records of the same shape.
  Reply answer(const std::string& op, const Params& params, const Form* form, bool big);

 private:
  Json areaData(const Params& params);
  Json gradeInfo(const Params& params);
  Json startCountTime(const Params& params);
  Json counterTime(const Params& params);
  Json screenShot(const Params& params, const Form* form);
  Json fileByHash(const Params& params);
  Json courseware(const Params& params);
  Json repairs(const Params& params);

  DevData& data_;
  std::string dataFolder_;
  bool refuseOffline_ = false;
};

}  // namespace devserver
