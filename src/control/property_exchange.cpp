// Persistence of the control's properties by name.
//
// One routine runs the exchange in every direction so that load, reset and save can never
// disagree about names, order or defaults: the version stamp, the base's own properties, then
// "Url", "UserWorkDir", "User", "DatasourceName". A property the host does not supply (or
// supplies in a form that is not convertible) takes its default. A loaded `User` goes through
// the same sanitizing as one set from script.
#include <optional>

#include "control/control.h"
#include "control/script_value.h"

namespace qs {

namespace {

constexpr std::u16string_view kVersionName = u"_Version";
constexpr std::u16string_view kExtentXName = u"_ExtentX";
constexpr std::u16string_view kExtentYName = u"_ExtentY";
constexpr std::u16string_view kStockPropsName = u"_StockProps";

class Exchanger {
 public:
  Exchanger(PropertyExchange direction, PropertyBag* bag)
      : loading_(direction == PropertyExchange::kLoad),
        saving_(direction == PropertyExchange::kSave),
        bag_(bag) {}

  void Int(std::u16string_view name, int32_t& field, int32_t default_value) {
    if (saving_) {
      bag_->Write(name, Variant::Int(field));
      return;
    }
    field = default_value;
    if (!loading_) return;
    if (std::optional<Variant> supplied = bag_->Read(name)) {
      // Sizes are whole numbers; a stored negative one is not a size.
      ArgumentConversion converted = ConvertArgument(*supplied, ValueType::kUInt32);
      if (converted.ok() && std::get<uint32_t>(converted.value) <= 0x7FFFFFFFu) {
        field = static_cast<int32_t>(std::get<uint32_t>(converted.value));
      }
    }
  }

  void String(std::u16string_view name, std::u16string& field, std::u16string_view default_value) {
    if (saving_) {
      bag_->Write(name, Variant::String(field));
      return;
    }
    field = std::u16string(default_value);
    if (!loading_) return;
    if (std::optional<Variant> supplied = bag_->Read(name)) {
      ArgumentConversion converted = ConvertArgument(*supplied, ValueType::kString);
      if (converted.ok()) field = std::get<ScriptString>(converted.value).str();
    }
  }

  // The stamp is written on save and read past on load: a value of another version is read by
  // name like any other, so it needs no translation.
  void Version() {
    if (saving_) bag_->Write(kVersionName, Variant::Int(kControlVersion));
    if (loading_) (void)bag_->Read(kVersionName);
  }

 private:
  bool loading_;
  bool saving_;
  PropertyBag* bag_;
};

}  // namespace

void CQSFileTransferCtrl::ExchangeProperties(PropertyExchange direction, PropertyBag* bag) {
  Exchanger x(direction, bag);
  x.Version();
  x.Int(kExtentXName, extent_x_, kDefaultExtentX);
  x.Int(kExtentYName, extent_y_, kDefaultExtentY);
  x.Int(kStockPropsName, stock_props_, 0);
  x.String(u"Url", url_, kNoUrl);
  x.String(u"UserWorkDir", user_work_dir_, u"");
  x.String(u"User", user_, u"");
  x.String(u"DatasourceName", datasource_name_, u"");
  if (direction != PropertyExchange::kSave) SetUser(ScriptString(user_));
}

void CQSFileTransferCtrl::LoadProperties(PropertyBag& bag) {
  ExchangeProperties(PropertyExchange::kLoad, &bag);
}

void CQSFileTransferCtrl::ResetProperties() {
  ExchangeProperties(PropertyExchange::kReset, nullptr);
}

void CQSFileTransferCtrl::SaveProperties(PropertyBag& bag) {
  ExchangeProperties(PropertyExchange::kSave, &bag);
}

}  // namespace qs
