#pragma once

namespace rtl {

// A bound handler: a routine together with the object it is called on, as the window's
// stored description binds FormCreate or HidCtrl1DeviceData. An empty handler is never
// called; comparing two handlers compares their routines only.
template <class Signature> class TBoundHandler;

template <class R, class... Args> class TBoundHandler<R(Args...)> {
public:
    using TRoutine = R (*)(void* object, Args...);

    TBoundHandler() = default;
    TBoundHandler(TRoutine routine, void* object) : FRoutine(routine), FObject(object) {}

    // Of<&TForm1::HidCtrl1DeviceData>(form)
    template <auto Method, class T> static TBoundHandler Of(T* object)
    {
        return TBoundHandler(&CallMethod<T, Method>, object);
    }

    explicit operator bool() const { return FRoutine != nullptr; }
    R operator()(Args... args) const { return FRoutine(FObject, args...); }
    bool SameRoutine(const TBoundHandler& other) const { return FRoutine == other.FRoutine; }
    void* Object() const { return FObject; }

private:
    template <class T, auto Method> static R CallMethod(void* object, Args... args)
    {
        return (static_cast<T*>(object)->*Method)(args...);
    }

    TRoutine FRoutine = nullptr;
    void* FObject = nullptr;
};

class TObject {
public:
    virtual ~TObject() = default;
};

using TNotifyEvent = TBoundHandler<void(TObject* Sender)>;

} // namespace rtl
