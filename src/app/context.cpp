#include "app/context.h"

#include "ui/setup_window.h"

CComHolder::CComHolder(Machine& machine) : machine_(machine) { machine_.com().CoInitialize(); }

CComHolder::~CComHolder() { machine_.com().CoUninitialize(); }

CSetupContext::~CSetupContext() = default;
