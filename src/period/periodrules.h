#pragma once
// Calendar rules of the period selection.
#include <QDate>
namespace bilmeko {
}
