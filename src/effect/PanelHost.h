// What the editor asks of the format that shows it: the values it displays and
// the edits a user makes, each drag or click bracketed as one gesture so that
// hosts can write touch automation. UI thread.
#pragma once

class BoosterProcessor;

class PanelHost {
public:
    virtual ~PanelHost() = default;
    // The processor whose scopes, meters and response curve the panel shows.
    virtual BoosterProcessor& processor() = 0;
    // The value a control shows (normalised 0..1).
    virtual float parameter(int index) = 0;
    // A user gesture on a parameter: begin, any number of values, end. A
    // click is begin, one value, end. The format stores the value and tells
    // its host.
    virtual void beginEdit(int index) = 0;
    virtual void performEdit(int index, float value) = 0;
    virtual void endEdit(int index) = 0;
};
