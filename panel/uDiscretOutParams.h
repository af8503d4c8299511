#pragma once
// The panel's record of one output: state read back, command pending, pulse-width parameters and
// safe state.

class TzDiscretOutParams
{
public:
    // Pulsing means a duty factor strictly between "always open" (0) and "always closed" (1000).
    bool ShimOn() const { return ShimKoef >= 1 && ShimKoef <= 999; }
    bool IsOn() const { return fIsOn; }
    // A state read back from the module ends any pending command.
    void SetIsOn(bool aValue)
    {
        fIsOn = aValue;
        IsWait = false;
        StateKnown = true;
    }
    // A new connection has not read the output yet: its state is unknown, not off.
    void ForgetState()
    {
        fIsOn = false;
        IsWait = false;
        StateKnown = false;
        ShimKoef = 0;
        ReadKnown = false;
        ReadOn = false;
    }
    bool operator==(const TzDiscretOutParams &) const = default;

    bool fIsOn = false;
    bool IsWait = false;
    int ShimScale = 0;
    int ShimPeriod = 0;
    int ShimKoef = 0;
    int ShimSafe = 0;
    // The state has been read (or set by the panel) since the connection began.
    bool StateKnown = false;
    // The state last read, kept also while a light sequence shows its own steps instead.
    bool ReadKnown = false;
    bool ReadOn = false;
};
