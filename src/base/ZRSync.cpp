// Objects and locks of the base runtime.
#include "ZRBase.h"

CZRObject::~CZRObject() = default;

CZRMutex::CZRMutex() = default;
CZRMutex::CZRMutex(const CZRMutex&) {}
CZRMutex& CZRMutex::operator=(const CZRMutex&) { return *this; }
CZRMutex::~CZRMutex() = default;
void CZRMutex::Lock() { m_mtx.lock(); }
void CZRMutex::Unlock() { m_mtx.unlock(); }

CZRGuard::CZRGuard(CZRMutex& mtx) : m_mtx(mtx) { m_mtx.Lock(); }
CZRGuard::~CZRGuard() { m_mtx.Unlock(); }
