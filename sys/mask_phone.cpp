#include "sys/mask_phone.h"

std::string maskPhone(std::string_view phone) {
  if (phone.size() <= 8) return std::string(phone);
  std::string masked(phone.substr(0, 3));
  masked += "****";
  masked += phone.substr(7);
  return masked;
}
