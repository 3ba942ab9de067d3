// The option-line parser: log-level pre-scan, grouping, applying the groups.
#include <stdexcept>

#include "ErrorText/ErrorText.h"
#include "FFLog/FFLog.h"
#include "FFmpegOpt/FFmpegOpt.h"
#include "FFmpegOpt/OptionText.h"

namespace vexa {

namespace {

bool StartsWithNo(const std::string& name) { return name.size() > 2 && name[0] == 'n' && name[1] == 'o'; }

bool IsOptionToken(const std::string& token) { return token.size() > 1 && token[0] == '-'; }

}  // namespace

void TCustomFFmpegOpt::LogLevelPreScan(const std::vector<std::string>& tokens) {
  auto locate = [&](const char* target) -> std::size_t {
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      if (!IsOptionToken(tokens[i])) continue;
      const std::string name = tokens[i].substr(1);
      const TOptionDef* def = FindOption(name);
      if (!def && StartsWithNo(name)) {
        const TOptionDef* negated = FindOption(name.substr(2));
        if (negated && negated->Has(ofBool)) def = negated;
      }
      if (!def) continue;
      if (def->Name == target) return i;
      if (def->Has(ofHasArg)) ++i;
    }
    return tokens.size();
  };
  std::size_t index = locate("loglevel");
  if (index >= tokens.size()) index = locate("v");
  if (index + 1 < tokens.size()) SetLogLevelOption(tokens[index + 1]);
}

int TCustomFFmpegOpt::GroupOptions(const std::vector<std::string>& tokens) {
  GlobalGroup.clear();
  FileGroup.clear();
  Log(this, llDebug, "Parsing the options.");
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    LogFmt(this, llDebug, "Reading option \"%s\" ... ", token.c_str());

    if (!IsOptionToken(token)) {
      if (StrictOptions) {
        const std::string text = token.empty() ? "Failed to parse options" : "Failed to parse options on " + token;
        SetOptionErrorText(text);
        Log(this, llError, text);
        return AVERROR(EINVAL);
      }
      if (token.empty())
        Log(this, llWarning, "Invalid option found while parsing options, ignore");
      else
        LogFmt(this, llWarning, "Invalid option %s found while parsing options, ignore", token.c_str());
      continue;
    }

    const std::string name = token.substr(1);
    if (const TOptionDef* def = FindOption(name)) {
      std::string arg = "1";
      if (def->Has(ofHasArg)) {
        if (i + 1 >= tokens.size()) {
          const std::string text = StrFormat("Missing argument for option \"%s\".", name.c_str());
          MediaErrorLog(text);
          SetOptionErrorText(text);
          return AVERROR(EINVAL);
        }
        arg = tokens[++i];
      }
      (def->IsFileGroup() ? FileGroup : GlobalGroup).push_back(TOptionEntry{def, name, arg});
      LogFmt(this, llDebug, "matched as option \"%s\" (%s) with argument \"%s\".", def->Name.c_str(),
             def->Help.c_str(), arg.c_str());
      continue;
    }

    if (i + 1 < tokens.size()) {
      const int ret = FFOptions.OptDefault(name, tokens[i + 1]);
      if (ret >= 0) {
        LogFmt(this, llDebug, "matched as AVOption \"%s\" with argument \"%s\".", name.c_str(),
               tokens[i + 1].c_str());
        ++i;
        continue;
      }
      if (ret != AVERROR_OPTION_NOT_FOUND) {
        MediaErrorLog(StrFormat("Error parsing option \"%s\" with argument \"%s\".", name.c_str(),
                                tokens[i + 1].c_str()));
        return ret;
      }
    }

    if (StartsWithNo(name)) {
      const TOptionDef* def = FindOption(name.substr(2));
      if (def && def->Has(ofBool)) {
        (def->IsFileGroup() ? FileGroup : GlobalGroup).push_back(TOptionEntry{def, name, "0"});
        LogFmt(this, llDebug, "matched as option \"%s\" (%s) with argument 0.", def->Name.c_str(),
               def->Help.c_str());
        continue;
      }
    }

    const std::string text = StrFormat("Unrecognized option \"%s\".", name.c_str());
    MediaErrorLog(text);
    if (StrictOptions) {
      SetOptionErrorText(text);
      return AVERROR_OPTION_NOT_FOUND;
    }
  }
  FFOptions.FinishGroup();
  Log(this, llDebug, "Finished parsing the options.");
  return 0;
}

int TCustomFFmpegOpt::ParseOptions(TFileOptions& o, const std::optional<std::string>& line,
                                   const std::string& label, const std::optional<std::string>& presets) {
  BuildOptionTable();
  int ret = 0;
  try {
    ClearOptionErrorText();
    if (line) {
      LogFmt(this, llInfo, "ParseOptions for %s: %s", label.c_str(), line->c_str());
      const std::vector<std::string> tokens = SplitOptionLine(*line);
      LogLevelPreScan(tokens);
      ClearOptionErrorText();
      ret = GroupOptions(tokens);
      if (ret >= 0 && !GlobalGroup.empty()) ret = ApplyOptionGroup(nullptr, GlobalGroup, "global");
      if (ret >= 0 && presets) ret = ParsePresets(o, *presets, label);
      if (ret >= 0 && !FileGroup.empty()) ret = ApplyOptionGroup(&o, FileGroup, label);
    } else if (presets) {
      ret = ParsePresets(o, *presets, label);
    }
  } catch (const FFmpegException& e) {
    LastErrorText = e.what();
    throw;
  }
  if (ret >= 0) return ret;

  const std::string text = ErrorText(ret);
  Log(this, llFatal, text);
  if (!StrictOptions) return 0;
  const std::string reason = OptionErrorText();
  LastErrorText = reason.empty() ? text : reason + "\r\n" + text;
  return ret;
}

int TCustomFFmpegOpt::ApplyOptionGroup(TFileOptions* o, const std::vector<TOptionEntry>& group,
                                       const std::string& label) {
  LogFmt(this, llDebug, "Parsing a group of options: %s.", label.c_str());
  for (const TOptionEntry& entry : group) {
    LogFmt(this, llDebug, "Applying option %s (%s) with argument %s.", entry.Name.c_str(),
           entry.Def->Help.c_str(), entry.Arg.c_str());
    const int ret = WriteOption(o, *entry.Def, entry.Name, entry.Arg);
    if (ret < 0) return ret;
  }
  Log(this, llDebug, "Successfully parsed a group of options.");
  return 0;
}

namespace {

// A value read by the kind bits of a row.
struct TParsedValue {
  uint32_t Kind = 0;
  std::string Str;
  int Int = 0;
  int64_t Int64 = 0;
  float Float = 0.0f;
  double Dbl = 0.0;
};

TParsedValue ReadValue(const TOptionDef& def, const std::string& name, const std::string& arg) {
  TParsedValue v;
  if (def.Has(ofString)) {
    v.Kind = ofString;
    v.Str = arg;
  } else if (def.Has(ofBool) || def.Has(ofInt)) {
    v.Kind = ofInt;
    v.Int = ParseInt(name, arg);
  } else if (def.Has(ofInt64)) {
    v.Kind = ofInt64;
    v.Int64 = ParseInt64(name, arg);
  } else if (def.Has(ofTime)) {
    v.Kind = ofInt64;
    v.Int64 = ParseTime(name, arg, true);
  } else if (def.Has(ofFloat)) {
    v.Kind = ofFloat;
    v.Float = ParseFloat(name, arg);
  } else {
    v.Kind = ofDouble;
    v.Dbl = ParseDouble(name, arg);
  }
  return v;
}

[[noreturn]] void BadRow(const TOptionDef& def) {
  throw std::logic_error("option table row \"" + def.Name + "\" does not fit its target");
}

template <typename Field>
void Store(Field& field, const TParsedValue& v, const TOptionDef& def) {
  if constexpr (std::is_same_v<Field, std::string>) {
    if (v.Kind != ofString) BadRow(def);
    field = v.Str;
  } else if constexpr (std::is_same_v<Field, int>) {
    if (v.Kind != ofInt) BadRow(def);
    field = v.Int;
  } else if constexpr (std::is_same_v<Field, int64_t>) {
    if (v.Kind != ofInt64) BadRow(def);
    field = v.Int64;
  } else if constexpr (std::is_same_v<Field, float>) {
    if (v.Kind != ofFloat) BadRow(def);
    field = v.Float;
  }
}

}  // namespace

int TCustomFFmpegOpt::WriteOption(TFileOptions* o, const TOptionDef& def, const std::string& name,
                                  const std::string& arg) {
  if ((def.Has(ofOffset) || def.Has(ofSpec)) && !o)
    throw std::logic_error("option \"" + def.Name + "\" needs file options");

  if (def.Flags & ofValueKinds) {
    const TParsedValue v = ReadValue(def, name, arg);
    std::visit(
        [&](auto target) {
          using Target = decltype(target);
          if constexpr (std::is_same_v<Target, std::monostate> || std::is_same_v<Target, TOptionHandler>) {
            BadRow(def);
          } else if constexpr (std::is_same_v<Target, TSpecifierList TFileOptions::*>) {
            TSpecifierValue item;
            const std::string::size_type colon = name.find(':');
            if (colon != std::string::npos) item.Specifier = name.substr(colon + 1);
            item.Str = v.Str;
            item.Int = v.Int;
            item.Int64 = v.Int64;
            item.Float = v.Float;
            item.Dbl = v.Dbl;
            (o->*target).push_back(std::move(item));
          } else if constexpr (std::is_member_object_pointer_v<Target>) {
            if constexpr (std::is_same_v<Target, int TCustomFFmpegOpt::*> ||
                          std::is_same_v<Target, float TCustomFFmpegOpt::*>) {
              Store(this->*target, v, def);
            } else {
              Store(o->*target, v, def);
            }
          }
        },
        def.Target);
    return 0;
  }

  const TOptionHandler* handler = std::get_if<TOptionHandler>(&def.Target);
  if (!handler) BadRow(def);
  ClearOptionErrorText();
  const int ret = (this->*(*handler))(o, name, arg);
  if (ret < 0) {
    const std::string text = StrFormat("Failed to set value \"%s\" for option \"%s\"", arg.c_str(), name.c_str());
    const std::string previous = OptionErrorText();
    SetOptionErrorText(previous.empty() ? text : previous + "\r\n" + text);
    MediaErrorLog(text);
  }
  return ret;
}

int TCustomFFmpegOpt::ParseOption(TFileOptions* o, const std::string& name, const std::optional<std::string>& arg) {
  const TOptionDef* def = FindOption(name);
  std::optional<std::string> value = arg;
  if (!def && StartsWithNo(name)) {
    const TOptionDef* negated = FindOption(name.substr(2));
    if (negated && negated->Has(ofBool)) {
      def = negated;
      value = "0";
    }
  } else if (def && def->Has(ofBool)) {
    value = "1";
  }
  if (!def) {
    const std::string text = StrFormat("Unrecognized option \"%s\"", name.c_str());
    SetOptionErrorText(text);
    MediaErrorLog(text);
    return AVERROR(EINVAL);
  }
  if (def->Has(ofHasArg) && !value) {
    const std::string text = StrFormat("Missing argument for option \"%s\"", name.c_str());
    SetOptionErrorText(text);
    MediaErrorLog(text);
    return AVERROR(EINVAL);
  }
  const int ret = WriteOption(o, *def, name, value.value_or("1"));
  if (ret < 0) return ret;
  return def->Has(ofHasArg) ? 1 : 0;
}

}  // namespace vexa
