#include "ctl/options.h"

TStepTestOptions StepTestOptionsOf(const TCommandArgs& args) {
  return {args.Value(kPortOption.Name), args.WholeNumber(kStepOption.Name, 0), args.WholeNumber(kPredivOption.Name, 0)};
}

std::vector<qint64> RecordNumbers(const QStringList& texts) {
  std::vector<qint64> numbers;
  for (const QString& text : texts) numbers.push_back(RecordNumber(text).value_or(0));
  return numbers;
}
