// Which fault this faulty library carries (HMD_FAULT, given per library).
#include "Faults.h"

extern const Fault kChosenFault = Fault::HMD_FAULT;
