#pragma once

// Owners of the COM resources that the OS description takes: each releases on every path out.
#include <windows.h>
#include <oleauto.h>

#include <memory>

struct ComRelease {
    void operator()(IUnknown* pObject) const { pObject->Release(); }
};
template <typename T>
using ComRef = std::unique_ptr<T, ComRelease>;

struct BstrFree {
    void operator()(OLECHAR* bstr) const { SysFreeString(bstr); }
};
using Bstr = std::unique_ptr<OLECHAR, BstrFree>;

// Initialises COM on this thread for the life of the object.
class ComApartment {
  public:
    ComApartment() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(m_hr)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT result() const { return m_hr; }

  private:
    HRESULT m_hr;
};

class ScopedVariant {
  public:
    ScopedVariant() { VariantInit(&m_value); }
    ~ScopedVariant() { VariantClear(&m_value); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    VARIANT* get() { return &m_value; }

  private:
    VARIANT m_value;
};
